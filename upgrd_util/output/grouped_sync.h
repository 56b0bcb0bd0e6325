#ifndef UPGRD_UTIL_OUTPUT_GROUPED_SYNC_H_
#define UPGRD_UTIL_OUTPUT_GROUPED_SYNC_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

/// How far apart the syncs of one record file are at least: records written
/// within this time share one sync. A sync costs milliseconds; a thousand
/// cards ending side by side would otherwise wait for a thousand of them.
constexpr std::chrono::milliseconds kRecordSyncSpacing{100};

/// Syncs one file of records for many threads: a call returns once what was
/// appended before it is on disk. A sync starts at once when the last one is
/// `spacing` old, else when it gets so old, covering every call made
/// meanwhile.
class GroupedSync {
 public:
  /// `sync` syncs the file (AppendFile::Sync).
  GroupedSync(std::function<bool(std::string*)> sync,
              std::chrono::milliseconds spacing)
      : sync_(std::move(sync)), spacing_(spacing) {}

  /// Returns the result of the sync that covered the call, with its reason
  /// in *reason when it failed.
  bool Sync(std::string* reason);

 private:
  GroupedSync(const GroupedSync&) = delete;
  GroupedSync& operator=(const GroupedSync&) = delete;

  const std::function<bool(std::string*)> sync_;
  const std::chrono::steady_clock::duration spacing_;
  std::mutex mutex_;  // guards what follows
  std::condition_variable synced_;
  uint64_t calls_ = 0;    // calls so far
  uint64_t covered_ = 0;  // calls that the last finished sync covered
  bool syncing_ = false;
  std::chrono::steady_clock::time_point last_start_;
  bool last_ok_ = true;
  std::string last_reason_;
};

#endif  // UPGRD_UTIL_OUTPUT_GROUPED_SYNC_H_
