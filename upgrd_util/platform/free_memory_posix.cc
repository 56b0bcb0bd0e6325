#include "upgrd_util/platform/free_memory.h"

#include <stdlib.h>  // defines __GLIBC__ where it is glibc
#include <string.h>
#include <unistd.h>

#include <string>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void release_free_memory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

void limit_thread_caches(char** argv) {
#if defined(__GLIBC__)
  const char kLimit[] = "glibc.malloc.tcache_max=256";
  const char* value = getenv("GLIBC_TUNABLES");
  // Set already, by this or by whoever started it: theirs holds.
  if (value && strstr(value, "glibc.malloc.tcache_max"))
    return;
  // A copy: setenv may let go of the string getenv gave.
  const bool given = value != nullptr;
  const std::string before = given ? value : "";
  std::string tunables = before.empty() ? "" : before + ":";
  tunables += kLimit;
  if (setenv("GLIBC_TUNABLES", tunables.c_str(), 1) != 0)
    return;
  execv("/proc/self/exe", argv);
  // Not started again (no /proc): the program runs as it is.
  if (given)
    setenv("GLIBC_TUNABLES", before.c_str(), 1);
  else
    unsetenv("GLIBC_TUNABLES");
#else
  (void)argv;
#endif
}
