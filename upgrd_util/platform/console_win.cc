#include "upgrd_util/platform/console.h"

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "upgrd_util/platform/interrupts.h"

namespace {

// Standard input, read a byte at a time by a thread of its own and only
// when a question asks for one, so that the question waits on a condition
// an interrupt can end: Ctrl-C is taken at once however the read blocks.
// The reader uses the handle, not stdio, whose lock it would hold for ever
// and the end of the process would wait for.
struct ByteReader {
  std::mutex mutex;
  std::condition_variable wake;
  bool started = false;
  bool wanted = false;  // a question waits for a byte
  bool ready = false;   // `byte` holds one for it, or -1 at the end
  int byte = -1;
};

ByteReader g_reader;

void ReadBytes() {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  std::unique_lock<std::mutex> lock(g_reader.mutex);
  for (;;) {
    g_reader.wake.wait(lock, [] { return g_reader.wanted; });
    lock.unlock();
    unsigned char c;
    DWORD got = 0;
    BOOL read = ReadFile(in, &c, 1, &got, nullptr);
    // Ctrl-C aborts a console's read; the interrupt itself is the
    // handler's to take, and the question may ask again.
    if (!read && GetLastError() == ERROR_OPERATION_ABORTED) {
      lock.lock();
      continue;
    }
    lock.lock();
    g_reader.byte = read && got == 1 ? c : -1;
    g_reader.ready = true;
    g_reader.wanted = false;
    g_reader.wake.notify_all();
  }
}

}  // namespace

void RealConsole::WriteBackspaces(int count) {
  // Everything before must be out first, or a backspace would erase a
  // character that is still buffered.
  fflush(out_);
  // Straight to the console device when there is one.
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode;
  if (out_ == stdout && count > 0 && GetConsoleMode(console, &mode)) {
    std::string backspaces(static_cast<size_t>(count), '\b');
    DWORD written;
    WriteConsoleA(console, backspaces.data(), static_cast<DWORD>(count),
                  &written, nullptr);
    return;
  }
  // Redirected: the backspaces go out with the text of the next Write.
  for (int i = 0; i < count; ++i)
    fputc('\b', out_);
}

bool RealConsole::ReadLine(std::string* line) {
  // Other streams are the tests' own, which nothing interrupts.
  if (in_ != stdin)
    return LineOf([this] { return fgetc(in_); }, line);
  bool interrupted = false;
  InterruptWaker waker([] {
    std::lock_guard<std::mutex> lock(g_reader.mutex);
    g_reader.wake.notify_all();
  });
  auto next = [&]() -> int {
    std::unique_lock<std::mutex> lock(g_reader.mutex);
    if (!g_reader.started) {
      try {
        std::thread(ReadBytes).detach();
        g_reader.started = true;
      } catch (const std::system_error&) {
        lock.unlock();
        return fgetc(in_);  // without a thread, as a plain read
      }
    }
    if (!g_reader.ready) {
      g_reader.wanted = true;
      g_reader.wake.notify_all();
    }
    g_reader.wake.wait(lock, [] {
      return g_reader.ready || interrupts_received() > 0 || questions_ended();
    });
    if (!g_reader.ready) {
      interrupted = true;
      return -1;
    }
    g_reader.ready = false;
    return g_reader.byte;
  };
  return LineOf(next, line) && !interrupted;
}

bool RealConsole::IsTerminal() {
  DWORD mode;
  return out_ == stdout &&
         GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool RealConsole::InputIsTerminal() {
  DWORD mode;
  return in_ == stdin &&
         GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}
