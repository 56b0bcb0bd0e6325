#ifndef UPGRD_UTIL_CAMPAIGN_STOP_FILE_H_
#define UPGRD_UTIL_CAMPAIGN_STOP_FILE_H_

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// The stop file (--stop-file): made from another terminal or over ssh, it
// stops a campaign as an interrupt would, without needing its process.

/// Whether `path` is there: any file, a directory, a link (even one to
/// nothing) counts, so that whatever the operator made stops the campaign.
/// When the system cannot tell (a directory on the way that may not be
/// searched), false with the reason in *error.
bool stop_file_present(const std::string& path, std::string* error);

/// Looks for the stop file once when made, then once a second of the run's
/// clock on a thread of its own until it goes away, and calls `found`
/// (which must not wait) the first time the file is there.
class StopFileWatch {
 public:
  StopFileWatch(std::string path, std::function<void()> found);
  ~StopFileWatch();

 private:
  StopFileWatch(const StopFileWatch&) = delete;
  StopFileWatch& operator=(const StopFileWatch&) = delete;
  bool Look();  // true once found

  const std::string path_;
  std::function<void()> found_;
  std::thread thread_;
  std::mutex mutex_;  // guards stopping_
  std::condition_variable wake_;
  bool stopping_ = false;
};

#endif  // UPGRD_UTIL_CAMPAIGN_STOP_FILE_H_
