#ifndef UPGRD_UTIL_PLATFORM_FREE_MEMORY_H_
#define UPGRD_UTIL_PLATFORM_FREE_MEMORY_H_

/// Gives back to the system the memory the allocator holds free. With a
/// thousand threads, glibc's arenas keep the pages of every card that
/// ended between the few blocks that live on, and a night's memory grows
/// with its cards; this returns them.
void release_free_memory();

/// First thing in main: where the allocator is glibc's, starts the program
/// again (the same file, arguments and descriptors) with each thread's
/// cache of freed blocks kept to blocks of 256 bytes at most. glibc reads
/// that setting only as a program starts. A thousand card threads each
/// kept some 25 KiB of larger freed blocks (libcurl's) for itself, a
/// quarter of the night's memory. Returns when it could not, or need not,
/// start again.
void limit_thread_caches(char** argv);

#endif  // UPGRD_UTIL_PLATFORM_FREE_MEMORY_H_
