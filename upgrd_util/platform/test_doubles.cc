#include "upgrd_util/platform/test_doubles.h"
#include "upgrd_util/platform/upload_rate.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

#include "upgrd_util/platform/append_file.h"

bool FakeConsole::ReadLine(std::string* line) {
  if (input.empty())
    return false;
  *line = input.front();
  input.pop_front();
  ++lines_read;
  return true;
}

FakeClock::FakeClock() {
  Set(2026, 1, 14, 18, 42, 15);
}

void FakeClock::SleepMs(int milliseconds) {
  std::lock_guard<std::mutex> lock(mutex);
  sleeps.push_back(milliseconds);
  if (milliseconds > 0)
    slept_ms += milliseconds;
}

bool FakeClock::LocalTime(struct tm* out) {
  if (!has_time)
    return false;
  *out = now;
  return true;
}

void FakeClock::Set(int year, int month, int day, int hour, int minute,
                    int second) {
  memset(&now, 0, sizeof(now));
  now.tm_year = year - 1900;
  now.tm_mon = month - 1;
  now.tm_mday = day;
  now.tm_hour = hour;
  now.tm_min = minute;
  now.tm_sec = second;
  using namespace std::chrono;
  year_month_day date{std::chrono::year(year), std::chrono::month(month),
                      std::chrono::day(day)};
  now.tm_wday = static_cast<int>(weekday(sys_days(date)).c_encoding());
}

bool FakeIcmpEcho::StartUp() {
  ++start_ups;
  return start_up_succeeds;
}

bool FakeIcmpEcho::Open(std::string* reason) {
  ++opens;
  if (!open_succeeds) {
    *reason = open_failure_reason;
    return false;
  }
  is_open = true;
  return true;
}

int FakeIcmpEcho::SendEcho(const char* ip) {
  sent.push_back(ip);
  if (replies.empty())
    return default_reply;
  int reply = replies.front();
  replies.pop_front();
  return reply;
}

bool FakeIcmpEcho::Close() {
  ++closes;
  bool was_open = is_open;
  is_open = false;
  return was_open && close_succeeds;
}

int FakeFtpLibrary::Login(const char* host, const char* user_name,
                          const char* pass, const char* /*account*/) {
  calls.push_back(std::string("login ") + host);
  if (user != user_name || password != pass) {
    last_reply = login_failure;
    return -1;
  }
  last_reply = "230 Login successful.";
  open_handles.push_back(next_handle);
  return next_handle++;
}

int FakeFtpLibrary::Quit(int handle) {
  calls.push_back("quit " + std::to_string(handle));
  auto it = std::find(open_handles.begin(), open_handles.end(), handle);
  if (it != open_handles.end())
    open_handles.erase(it);
  return 0;
}

namespace {

// A local file of the fake's, opened as the real library would make it.
FILE* OpenLocal(const char* local, const char* mode, bool disk_full,
                LocalFault* fault) {
  FILE* file = disk_full ? nullptr : fopen(local, mode);
  int error = disk_full ? ENOSPC : errno;
  if (!file)
    *fault = {std::string("cannot write ") + local + ": " + strerror(error),
              disk_full_error(error)};
  return file;
}

}  // namespace

int FakeFtpLibrary::Get(int handle, const char* remote, const char* local) {
  calls.push_back(std::string("get ") + remote + " " + local);
  fault = LocalFault();
  auto file = files.find(remote);
  if (handle <= 0 || file == files.end()) {
    last_reply = "550 No such file or directory.";
    return -1;
  }
  FILE* out = OpenLocal(local, "wb", disk_full, &fault);
  if (!out)
    return -1;
  fwrite(file->second.data(), 1, file->second.size(), out);
  fclose(out);
  last_reply = "226 Transfer complete.";
  return 0;
}

int FakeFtpLibrary::Put(int handle, const char* local, const char* remote) {
  calls.push_back(std::string("put ") + local);
  put_group = ScopedUploadGroup::Current();
  if (put_runs_out_of_memory)
    throw std::bad_alloc();
  fault = LocalFault();
  FILE* in = fopen(local, "rb");
  if (!in)
    fault = {std::string("cannot read ") + local + ": " + strerror(errno)};
  if (handle <= 0 || put_fails || !in) {
    if (in)
      fclose(in);
    last_reply = "553 Could not create file.";
    return -1;
  }
  std::string content;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), in)) > 0)
    content.append(buffer, n);
  fclose(in);
  std::string name = remote && *remote ? remote : local;
  size_t slash = name.rfind('/');
  if (slash != std::string::npos)
    name = name.substr(slash + 1);
  files[name] = content;
  uploads.push_back(name);
  last_reply = "226 Transfer complete.";
  return 0;
}

int FakeFtpLibrary::Ls(int handle, const char* path, const char* local) {
  calls.push_back(std::string("ls ") + path + " " + local);
  fault = LocalFault();
  remove(local);
  if (handle <= 0 || listing_fails) {
    last_reply = listing_failure;
    return -1;
  }
  last_reply = "226 Transfer complete.";
  if (listing_vanishes)
    return 0;
  FILE* out = OpenLocal(local, "w", disk_full, &fault);
  if (!out)
    return -1;
  // Byte for byte, a NUL inside a name included.
  for (const std::string& name : listing) {
    fwrite(name.data(), 1, name.size(), out);
    fputc('\n', out);
  }
  fclose(out);
  last_reply = "226 Transfer complete.";
  return 0;
}

bool FakeFtpLibrary::LocalFailure(int handle, LocalFault* local) {
  if (handle <= 0 || fault.what.empty())
    return false;
  *local = fault;
  return true;
}

int FakeFtpLibrary::CopyReplyStr(int handle, char* buffer, int size) {
  calls.push_back("reply " + std::to_string(handle));
  if (size <= 0)
    return -1;
  snprintf(buffer, static_cast<size_t>(size), "%s", last_reply.c_str());
  return 0;
}

bool CountingDiskSyncs::SyncData(int) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_ += 'f';
  return true;
}

bool CountingDiskSyncs::SyncDirectory(const std::string&) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_ += 'd';
  return true;
}

std::string CountingDiskSyncs::Calls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

int CountingDiskSyncs::Count(char kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count(calls_.begin(), calls_.end(), kind));
}

std::unique_ptr<StartedThread> FakeThreadStarter::Start(
    std::function<void()> body, size_t stack_bytes, std::string* err) {
  if (give_ > 0) {
    --give_;
    return system_threads()->Start(std::move(body), stack_bytes, err);
  }
  if (how_ == THROW_BAD_ALLOC)
    throw std::bad_alloc();
  if (how_ == THROW_SYSTEM_ERROR)
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  *err = "Resource temporarily unavailable";
  return nullptr;
}
