#include "upgrd_util/platform/upload_rate.h"

#include <algorithm>

namespace {

const double kBurstSeconds = 0.1;

}  // namespace

void UploadRate::Share(double bytes_per_second) {
  std::lock_guard<std::mutex> lock(mutex_);
  rate_ = bytes_per_second > 0 ? bytes_per_second : 0;
  burst_ = std::max(rate_ * kBurstSeconds, static_cast<double>(kTurn));
  last_ = -1;
}

double UploadRate::Take(double now, long long bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (rate_ <= 0)
    return now;
  if (last_ < 0) {
    last_ = now;
    tokens_ = burst_;
  }
  // Another thread may have taken at a later `now` already.
  if (now > last_) {
    tokens_ = std::min(burst_, tokens_ + (now - last_) * rate_);
    last_ = now;
  }
  tokens_ -= static_cast<double>(bytes);
  if (tokens_ >= 0)
    return now;
  return std::max(now, last_ - tokens_ / rate_);
}

long long RateDraw::Take(double now, long long wanted) {
  if (wanted <= 0)
    return 0;
  if (turn_left_ == 0) {
    long long turn = std::min(wanted, UploadRate::kTurn);
    ready_at_ = now;
    for (UploadRate* bucket : buckets_)
      ready_at_ = std::max(ready_at_, bucket->Take(now, turn));
    turn_left_ = turn;
  }
  if (now < ready_at_)
    return 0;
  long long allowed = std::min(wanted, turn_left_);
  turn_left_ -= allowed;
  return allowed;
}

void GroupRates::Share(double bytes_per_second) {
  std::lock_guard<std::mutex> lock(mutex_);
  rate_ = bytes_per_second;
  for (auto& [group, bucket] : groups_)
    bucket->Share(rate_);
}

std::vector<UploadRate*> GroupRates::For(UploadRate* link,
                                         const std::string& group) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (rate_ <= 0)
    return {link};
  std::unique_ptr<UploadRate>& bucket = groups_[group];
  if (!bucket) {
    bucket = std::make_unique<UploadRate>();
    bucket->Share(rate_);
  }
  return {link, bucket.get()};
}

namespace {

const std::string kNoGroup;
thread_local const std::string* t_upload_group = &kNoGroup;

}  // namespace

ScopedUploadGroup::ScopedUploadGroup(const std::string& group)
    : group_(group), previous_(t_upload_group) {
  t_upload_group = &group_;
}

ScopedUploadGroup::~ScopedUploadGroup() {
  t_upload_group = previous_;
}

const std::string& ScopedUploadGroup::Current() {
  return *t_upload_group;
}
