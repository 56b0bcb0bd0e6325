#include "upgrd_util/platform/thread.h"

#include <windows.h>
#include <process.h>

#include <new>

namespace {

struct WinThread : public StartedThread {
  ~WinThread() override {
    // A thread the system refused has nothing to wait for.
    if (!handle)
      return;
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
  }
  HANDLE handle = nullptr;
};

// The thread's body is allocated before the thread starts: nothing is
// allocated on the new thread before the body runs.
unsigned __stdcall RunBody(void* arg) {
  std::unique_ptr<std::function<void()>> body(
      static_cast<std::function<void()>*>(arg));
  (*body)();
  return 0;
}

struct WinThreads : public ThreadStarter {
  std::unique_ptr<StartedThread> Start(std::function<void()> body,
                                       size_t stack_bytes,
                                       std::string* err) override {
    std::unique_ptr<WinThread> thread(new (std::nothrow) WinThread);
    std::unique_ptr<std::function<void()>> boxed(
        new (std::nothrow) std::function<void()>);
    if (!thread || !boxed) {
      *err = "no memory for a thread";
      return nullptr;
    }
    *boxed = std::move(body);
    // The stack reserved, not only committed, is the size given.
    uintptr_t handle =
        _beginthreadex(nullptr, static_cast<unsigned>(stack_bytes), RunBody,
                       boxed.get(), STACK_SIZE_PARAM_IS_A_RESERVATION,
                       nullptr);
    if (handle == 0) {
      *err = "error " + std::to_string(GetLastError());
      return nullptr;
    }
    boxed.release();
    thread->handle = reinterpret_cast<HANDLE>(handle);
    return thread;
  }
};

}  // namespace

ThreadStarter* system_threads() {
  static WinThreads threads;
  return &threads;
}
