#include "upgrd_util/platform/child_process.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <string>
#include <vector>

#include "upgrd_util/platform/files.h"

namespace {

using Steady = std::chrono::steady_clock;

double SecondsSince(Steady::time_point start) {
  return std::chrono::duration<double>(Steady::now() - start).count();
}

// One argument as the C runtime's parser reads it back.
std::string Quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)
    return arg;
  std::string quoted = "\"";
  for (size_t i = 0;; ++i) {
    size_t backslashes = 0;
    while (i < arg.size() && arg[i] == '\\') {
      ++i;
      ++backslashes;
    }
    if (i == arg.size()) {
      quoted.append(backslashes * 2, '\\');
      break;
    }
    if (arg[i] == '"')
      quoted.append(backslashes * 2 + 1, '\\');
    else
      quoted.append(backslashes, '\\');
    quoted += arg[i];
  }
  return quoted + "\"";
}

void CloseOnce(HANDLE* handle) {
  if (*handle)
    CloseHandle(*handle);
  *handle = nullptr;
}

// Reads what the pipe holds now, without waiting. Returns false at its end.
bool ReadAvailable(HANDLE pipe, size_t bound, ChildResult* result) {
  char buffer[16384];
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
      return false;
    if (available == 0)
      return true;
    DWORD got = 0;
    if (!ReadFile(pipe, buffer,
                  std::min<DWORD>(available, sizeof(buffer)), &got, nullptr))
      return false;
    size_t room = bound > result->output.size()
                      ? bound - result->output.size()
                      : 0;
    size_t kept = std::min<size_t>(room, got);
    result->output.append(buffer, kept);
    result->dropped += got - kept;
  }
}

// Whether the variable named `name` (as the block has it) is one
// keep_from_children named: names are the same whatever their case.
bool Kept(const std::wstring& name, const std::vector<std::string>& kept) {
  for (const std::string& each : kept) {
    int length = MultiByteToWideChar(CP_ACP, 0, each.data(),
                                     static_cast<int>(each.size()), nullptr,
                                     0);
    std::wstring wide(static_cast<size_t>(std::max(length, 0)), L'\0');
    if (length > 0)
      MultiByteToWideChar(CP_ACP, 0, each.data(),
                          static_cast<int>(each.size()), &wide[0], length);
    if (!wide.empty() &&
        CompareStringOrdinal(name.data(), static_cast<int>(name.size()),
                             wide.data(), static_cast<int>(wide.size()),
                             TRUE) == CSTR_EQUAL)
      return true;
  }
  return false;
}

// Our environment block less what keep_from_children named, in UTF-16 as
// the system keeps it (CREATE_UNICODE_ENVIRONMENT). False when the system
// gives none.
bool ChildEnvironment(std::wstring* block) {
  std::vector<std::string> kept = names_kept_from_children();
  LPWCH ours = GetEnvironmentStringsW();
  if (!ours)
    return false;
  block->clear();
  for (const wchar_t* entry = ours; *entry; entry += wcslen(entry) + 1) {
    std::wstring text(entry);
    // "=C:=C:\dir" keeps a drive's directory: a name never starts at "=".
    std::wstring name = text.substr(0, text.find(L'=', 1));
    if (!Kept(name, kept)) {
      *block += text;
      *block += L'\0';
    }
  }
  FreeEnvironmentStringsW(ours);
  // An empty entry ends the block; an empty block is two of them.
  if (block->empty())
    *block += L'\0';
  *block += L'\0';
  return true;
}

// Starts `command` suspended, with the two pipe ends as its only handles
// of ours and `environment` as its block. Returns 0 or the system's error.
DWORD Start(std::string command, HANDLE in, HANDLE out,
            std::wstring* environment, PROCESS_INFORMATION* process) {
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::string storage(size, '\0');
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(&storage[0]);
  if (!InitializeProcThreadAttributeList(list, 1, 0, &size))
    return GetLastError();
  HANDLE inherited[2] = {in, out};
  STARTUPINFOEXA info = {};
  info.StartupInfo.cb = sizeof(info);
  info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  info.StartupInfo.hStdInput = in;
  info.StartupInfo.hStdOutput = out;
  info.StartupInfo.hStdError = out;
  info.lpAttributeList = list;
  DWORD error = 0;
  // A new process group does not get the console's Ctrl-C.
  if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                 inherited, sizeof(inherited), nullptr,
                                 nullptr) ||
      !CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE,
                      CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED |
                          EXTENDED_STARTUPINFO_PRESENT |
                          CREATE_UNICODE_ENVIRONMENT,
                      &(*environment)[0], nullptr, &info.StartupInfo,
                      process))
    error = GetLastError();
  DeleteProcThreadAttributeList(list);
  return error;
}

// What the input's thread writes, and whether the child refused it.
struct InputWriter {
  const std::string* input;
  HANDLE pipe;
  bool refused;
};

DWORD WINAPI WriteInput(void* argument) {
  auto* writer = static_cast<InputWriter*>(argument);
  const std::string& input = *writer->input;
  size_t written = 0;
  while (written < input.size()) {
    DWORD put = 0;
    DWORD chunk =
        static_cast<DWORD>(std::min<size_t>(input.size() - written, 65536));
    if (!WriteFile(writer->pipe, input.data() + written, chunk, &put,
                   nullptr)) {
      writer->refused = true;
      break;
    }
    written += put;
  }
  CloseOnce(&writer->pipe);
  return 0;
}

}  // namespace

bool find_program(const std::string& program, std::string* path,
                  std::string* reason) {
  if (program.empty()) {
    *reason = "no program named";
    return false;
  }
  char found[MAX_PATH];
  DWORD length =
      SearchPathA(nullptr, program.c_str(), ".exe", sizeof(found), found,
                  nullptr);
  DWORD attributes = length > 0 && length < sizeof(found)
                         ? GetFileAttributesA(found)
                         : INVALID_FILE_ATTRIBUTES;
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *reason = "no program " + program + " found";
    return false;
  }
  *path = found;
  return true;
}

bool run_child(const std::vector<std::string>& argv, const std::string& input,
               const ChildLimits& limits, ChildResult* result,
               std::string* reason) {
  *result = ChildResult();
  Steady::time_point start = Steady::now();
  if (argv.empty()) {
    *reason = "could not be started: no program named";
    return false;
  }
  std::string command;
  for (const std::string& arg : argv) {
    if (!command.empty())
      command += ' ';
    command += Quoted(arg);
  }
  std::wstring environment;
  if (!ChildEnvironment(&environment)) {
    *reason = "could not be started: " + system_message(GetLastError());
    return false;
  }
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE in_read = nullptr, in_write = nullptr;
  HANDLE out_read = nullptr, out_write = nullptr;
  if (!CreatePipe(&in_read, &in_write, &inheritable, 0) ||
      !CreatePipe(&out_read, &out_write, &inheritable, 0)) {
    *reason = "could not be started: " + system_message(GetLastError());
    for (HANDLE* handle : {&in_read, &in_write, &out_read, &out_write})
      CloseOnce(handle);
    return false;
  }
  // Only the child's ends are for the child.
  SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  PROCESS_INFORMATION process = {};
  DWORD error = Start(command, in_read, out_write, &environment, &process);
  CloseOnce(&in_read);
  CloseOnce(&out_write);
  if (error != 0) {
    CloseOnce(&in_write);
    CloseOnce(&out_read);
    *reason = "could not be started: " + system_message(error);
    return false;
  }
  result->started = true;
  // A job holds whatever it starts, to be ended with it at the limit. Where
  // the tool runs in a job that allows none inside (Windows 7), the child
  // alone is ended.
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job && !AssignProcessToJobObject(job, process.hProcess))
    CloseOnce(&job);
  ResumeThread(process.hThread);
  CloseOnce(&process.hThread);

  // The input on a thread of its own: a write to a pipe waits until the
  // child reads. Either end closing ends the write.
  InputWriter writer = {&input, in_write, false};
  HANDLE writing = CreateThread(nullptr, 0, WriteInput, &writer, 0, nullptr);
  if (!writing)
    CloseOnce(&writer.pipe);
  bool output_open = true;
  for (;;) {
    double left = limits.seconds - SecondsSince(start);
    DWORD wait_ms = static_cast<DWORD>(std::max(0.0, std::min(left * 1000, 50.0)));
    if (WaitForSingleObject(process.hProcess, wait_ms) == WAIT_OBJECT_0)
      break;
    if (output_open)
      output_open = ReadAvailable(out_read, limits.output_bytes, result);
    bool timed_out = SecondsSince(start) >= limits.seconds;
    if (timed_out || (limits.cut && *limits.cut)) {
      // No polite ending here: the whole job goes at once.
      if (!job || !TerminateJobObject(job, 1))
        TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, INFINITE);
      result->timed_out = timed_out;
      result->cut_short = !timed_out;
      break;
    }
  }
  if (output_open)
    ReadAvailable(out_read, limits.output_bytes, result);
  // Whatever still holds its input unread must not hold us.
  if (writing) {
    CancelSynchronousIo(writing);
    WaitForSingleObject(writing, INFINITE);
    CloseOnce(&writing);
  }
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  if (!result->timed_out && !result->cut_short)
    result->exit_code = static_cast<int>(code);
  result->input_refused = writer.refused;
  CloseOnce(&process.hProcess);
  CloseOnce(&out_read);
  CloseOnce(&job);
  result->seconds = SecondsSince(start);
  return child_ended_well(*result, limits.seconds, reason);
}
