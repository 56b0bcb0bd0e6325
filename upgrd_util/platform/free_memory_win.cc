#include "upgrd_util/platform/free_memory.h"

// The process heap gives back free pages of its own accord.
void release_free_memory() {}

// Nothing to limit: the heap is not glibc's.
void limit_thread_caches(char**) {}
