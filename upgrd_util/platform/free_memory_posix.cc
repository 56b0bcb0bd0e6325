#include "upgrd_util/platform/free_memory.h"

#include <stdlib.h>  // defines __GLIBC__ where it is glibc
#if defined(__GLIBC__)
#include <malloc.h>
#endif

void release_free_memory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}
