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

void install_thread_platform(Platform* seams) {
  t_platform = seams;
}
