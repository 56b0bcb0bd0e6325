#ifndef UPGRD_UTIL_PLATFORM_FREE_MEMORY_H_
#define UPGRD_UTIL_PLATFORM_FREE_MEMORY_H_

/// Gives back to the system the memory the allocator holds free. With a
/// thousand threads, glibc's arenas keep the pages of every card that
/// ended between the few blocks that live on, and a night's memory grows
/// with its cards; this returns them.
void release_free_memory();

#endif  // UPGRD_UTIL_PLATFORM_FREE_MEMORY_H_
