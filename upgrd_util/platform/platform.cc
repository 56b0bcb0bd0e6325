#include "upgrd_util/platform/platform.h"

#ifdef _WIN32
const char kCurrentDirectoryPrefix[] = ".\\";
#else
const char kCurrentDirectoryPrefix[] = "./";
#endif

namespace {
Platform g_platform;
}  // namespace

Platform& platform() {
  return g_platform;
}

void install_platform(const Platform& seams) {
  g_platform = seams;
}
