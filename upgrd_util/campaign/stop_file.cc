#include "upgrd_util/campaign/stop_file.h"

#include <filesystem>
#include <system_error>

#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/platform.h"

bool stop_file_present(const std::string& path, std::string* error) {
  std::error_code code;
  // The name itself, never what a link names.
  std::filesystem::file_status status =
      std::filesystem::symlink_status(path, code);
  if (status.type() == std::filesystem::file_type::not_found)
    return false;
  if (code) {
    *error = code.message();
    return false;
  }
  return true;
}

StopFileWatch::StopFileWatch(std::string path, std::function<void()> found)
    : path_(std::move(path)), found_(std::move(found)) {
  // At once, so that no card starts after a file made at the menu.
  if (Look())
    return;
  try {
    thread_ = std::thread([this] {
      Clock* clock = platform().clock;
      std::unique_lock<std::mutex> lock(mutex_);
      // Once a second: a look costs one system call, and a card's upgrade
      // takes minutes, so an operator waits for nothing that matters.
      while (!stopping_) {
        clock->WaitFor(&wake_, &lock, 1000);
        if (stopping_)
          break;
        lock.unlock();
        bool found = Look();
        lock.lock();
        if (found)
          break;
      }
    });
  } catch (const std::system_error&) {
    // Without a thread the file is not looked for again: the signals
    // still stop the campaign.
  }
}

StopFileWatch::~StopFileWatch() {
  if (!thread_.joinable())
    return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }
  thread_.join();
}

bool StopFileWatch::Look() {
  std::string ignored;
  if (!stop_file_present(path_, &ignored))
    return false;
  found_();
  return true;
}
