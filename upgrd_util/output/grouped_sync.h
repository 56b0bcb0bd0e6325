#ifndef UPGRD_UTIL_OUTPUT_GROUPED_SYNC_H_
#define UPGRD_UTIL_OUTPUT_GROUPED_SYNC_H_

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

/// Syncs one file of records for many threads: a call returns once what was
/// appended before it is on disk. A call syncs at once when no sync is under
/// way; the calls made while one is share the next, which starts as soon as
/// it ends. So a card that ends alone never waits for another, and a
/// thousand cards ending side by side wait for a few syncs, not a thousand.
class GroupedSync {
 public:
  /// `sync` syncs the file (AppendFile::Sync).
  explicit GroupedSync(std::function<bool(std::string*)> sync)
      : sync_(std::move(sync)) {}

  /// Returns the result of the sync that covered the call, with its reason
  /// in *reason when it failed (or one that followed it failed).
  bool Sync(std::string* reason);

  /// The calls so far, for a test to know that its callers are waiting.
  uint64_t calls();

 private:
  GroupedSync(const GroupedSync&) = delete;
  GroupedSync& operator=(const GroupedSync&) = delete;

  const std::function<bool(std::string*)> sync_;
  std::mutex mutex_;  // guards what follows
  std::condition_variable synced_;
  uint64_t calls_ = 0;    // calls so far
  uint64_t covered_ = 0;  // calls that the last finished sync covered
  bool syncing_ = false;
  // The calls up to this one were covered by a failed sync, for this reason.
  uint64_t failed_through_ = 0;
  std::string failed_reason_;
};

#endif  // UPGRD_UTIL_OUTPUT_GROUPED_SYNC_H_
