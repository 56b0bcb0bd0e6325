#include "upgrd_util/platform/ftp_library.h"

#include <algorithm>

#include "upgrd_util/platform/platform.h"

namespace {

// Samples closer together than this add nothing to the window's measure.
const double kSampleSpacing = 0.25;

}  // namespace

bool TransferPace::Allows(double now, long long bytes, double held) {
  // Timed on a clock that stands still while the cap holds the call back.
  now -= held;
  if (now - started_ >= limits_.longest_call)
    return false;
  if (bytes != moved_) {
    moved_ = bytes;
    moved_at_ = now;
  }
  if (watch_stalls_ && bytes > 0 && now - moved_at_ >= limits_.stalled)
    return false;
  if (bytes <= 0) {
    quiet_until_ = now;
    return true;
  }
  if (samples_.empty())
    samples_.push_back({quiet_until_, 0});
  if (now - samples_.back().time >= kSampleSpacing)
    samples_.push_back({now, bytes});
  // The newest sample at least a window old starts the window: when samples
  // are sparse the window is a little longer, never shorter.
  double window_start = now - limits_.rate_window;
  while (samples_.size() > 1 && samples_[1].time <= window_start)
    samples_.pop_front();
  if (samples_.front().time > window_start)
    return true;
  return bytes - samples_.front().bytes >=
         static_cast<long long>(limits_.min_rate) * limits_.rate_window;
}

int ftp_login(const char* host, const char* user, const char* password,
              const char* account) {
  return platform().ftp->Login(host, user, password, account);
}

int ftp_quit(int handle) {
  return platform().ftp->Quit(handle);
}

int ftp_get(int handle, const char* remote, const char* local) {
  return platform().ftp->Get(handle, remote, local);
}

int ftp_put(int handle, const char* local, const char* remote) {
  return platform().ftp->Put(handle, local, remote);
}

int ftp_ls(int handle, const char* path, const char* local) {
  return platform().ftp->Ls(handle, path, local);
}

int ftp_copyreplystr(int handle, char* buffer, int size) {
  return platform().ftp->CopyReplyStr(handle, buffer, size);
}

void DownloadBudget::Share(long long bytes, int sharers) {
  sharers_ = sharers > 0 ? sharers : 1;
  left_ = bytes > 0 ? bytes : 0;
}

long long DownloadBudget::Allowance(long long bound) const {
  long long left = left_;
  if (left < 0)
    return bound;
  return std::min(bound, std::max(0LL, left / sharers_));
}

void DownloadBudget::Kept(long long bytes) {
  if (left_ >= 0)
    left_ -= bytes;
}
