#include "upgrd_util/output/grouped_sync.h"

#include <thread>

#include "upgrd_util/platform/append_file.h"

bool GroupedSync::Sync(std::string* reason) {
  // A benchmark that leaves the disk alone has no sync to share either.
  if (syncs_skipped())
    return true;
  std::unique_lock<std::mutex> lock(mutex_);
  uint64_t mine = ++calls_;
  while (covered_ < mine) {
    if (syncing_) {
      synced_.wait(lock);
      continue;
    }
    // This call syncs for every call until it starts.
    syncing_ = true;
    std::chrono::steady_clock::time_point at = last_start_ + spacing_;
    lock.unlock();
    std::this_thread::sleep_until(at);
    lock.lock();
    uint64_t covering = calls_;
    last_start_ = std::chrono::steady_clock::now();
    lock.unlock();
    std::string why;
    bool ok = sync_(&why);
    lock.lock();
    syncing_ = false;
    covered_ = covering;
    last_ok_ = ok;
    last_reason_ = why;
    synced_.notify_all();
  }
  if (!last_ok_)
    *reason = last_reason_;
  return last_ok_;
}
