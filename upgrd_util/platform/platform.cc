#include "upgrd_util/platform/platform.h"

namespace {
Platform g_platform;
}  // namespace

Platform& platform() {
  return g_platform;
}

void install_platform(const Platform& seams) {
  g_platform = seams;
}
