#include "upgrd_util/output/grouped_sync.h"

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
    // This call syncs for every call made until now.
    syncing_ = true;
    uint64_t covering = calls_;
    lock.unlock();
    std::string why;
    bool ok = sync_(&why);
    lock.lock();
    syncing_ = false;
    covered_ = covering;
    if (!ok) {
      failed_through_ = covering;
      failed_reason_ = why;
    }
    synced_.notify_all();
  }
  if (mine > failed_through_)
    return true;
  *reason = failed_reason_;
  return false;
}

uint64_t GroupedSync::calls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}
