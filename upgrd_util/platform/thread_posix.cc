#include "upgrd_util/platform/thread.h"

#include <pthread.h>

#include <cstring>
#include <new>

namespace {

struct PosixThread : public StartedThread {
  ~PosixThread() override {
    // A thread the system refused has nothing to join.
    if (started)
      pthread_join(id, nullptr);
  }
  pthread_t id;
  bool started = false;
};

// The thread's body is allocated before the thread starts: nothing is
// allocated on the new thread before the body runs.
void* RunBody(void* arg) {
  std::unique_ptr<std::function<void()>> body(
      static_cast<std::function<void()>*>(arg));
  (*body)();
  return nullptr;
}

struct PosixThreads : public ThreadStarter {
  std::unique_ptr<StartedThread> Start(std::function<void()> body,
                                       size_t stack_bytes,
                                       std::string* err) override {
    std::unique_ptr<PosixThread> thread(new (std::nothrow) PosixThread);
    std::unique_ptr<std::function<void()>> boxed(
        new (std::nothrow) std::function<void()>);
    if (!thread || !boxed) {
      *err = "no memory for a thread";
      return nullptr;
    }
    *boxed = std::move(body);
    pthread_attr_t attr;
    int error = pthread_attr_init(&attr);
    if (error == 0) {
      // Below the system's minimum the default stays.
      pthread_attr_setstacksize(&attr, stack_bytes);
      error = pthread_create(&thread->id, &attr, RunBody, boxed.get());
      pthread_attr_destroy(&attr);
    }
    if (error != 0) {
      *err = strerror(error);
      return nullptr;
    }
    thread->started = true;
    boxed.release();
    return thread;
  }
};

}  // namespace

ThreadStarter* system_threads() {
  static PosixThreads threads;
  return &threads;
}
