#ifndef UPGRD_UTIL_PLATFORM_THREAD_H_
#define UPGRD_UTIL_PLATFORM_THREAD_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

/// A thread started by a ThreadStarter; destroying it joins it.
struct StartedThread {
  virtual ~StartedThread() {}
};

/// Starts threads with a stack of a chosen size: a card's thread needs far
/// less than the system's default (8 MiB of address space each on Linux).
struct ThreadStarter {
  virtual ~ThreadStarter() {}
  /// Runs `body` on a new thread whose stack is `stack_bytes`. Returns
  /// nullptr, with *err, when the system gives no thread or no memory to
  /// start one; it throws nothing.
  virtual std::unique_ptr<StartedThread> Start(std::function<void()> body,
                                               size_t stack_bytes,
                                               std::string* err) = 0;
};

/// The system's threads.
ThreadStarter* system_threads();

#endif  // UPGRD_UTIL_PLATFORM_THREAD_H_
