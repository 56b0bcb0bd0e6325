#include "upgrd_util/platform/platform.h"

namespace {
Platform g_platform;
thread_local Platform* t_platform = nullptr;
}  // namespace

Platform& platform() {
  return t_platform ? *t_platform : g_platform;
}

void install_platform(const Platform& seams) {
  g_platform = seams;
}

ScopedThreadPlatform::ScopedThreadPlatform(Platform* seams)
    : previous_(t_platform) {
  t_platform = seams;
}

ScopedThreadPlatform::~ScopedThreadPlatform() {
  t_platform = previous_;
}
