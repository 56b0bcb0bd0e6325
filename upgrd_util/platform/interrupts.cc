#include "upgrd_util/platform/interrupts.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

/// Removes the file `path` with one system call that is safe in a signal
/// handler (interrupts_posix.cc, _win.cc).
void remove_file_now(const char* path);

/// Ends every question that waits, as an interrupt would
/// (interrupts_*.cc).
void wake_questions();

namespace {

// Room for a path and its NUL: the library's temporary files lie in the
// working directory, with short names.
const size_t kHeldPathSize = 256;

// A handler may run while another thread takes or lets go of a slot, so a
// slot's path is read like a sequence lock: `version` is odd while the
// slot changes, and a path is only used when the version was even and the
// same before and after it was read.
struct HeldFile {
  std::atomic<bool> taken{false};
  std::atomic<unsigned> version{0};
  std::atomic<bool> live{false};
  char path[kHeldPathSize];
};

HeldFile g_held[kMaxHeldFiles];

// The wakers alive; called from the thread that takes interrupts.
std::mutex g_wakers_mutex;
std::vector<const std::function<void()>*> g_wakers;

}  // namespace

InterruptWaker::InterruptWaker(std::function<void()> wake)
    : wake_(std::move(wake)) {
  std::lock_guard<std::mutex> lock(g_wakers_mutex);
  g_wakers.push_back(&wake_);
}

InterruptWaker::~InterruptWaker() {
  std::lock_guard<std::mutex> lock(g_wakers_mutex);
  g_wakers.erase(std::find(g_wakers.begin(), g_wakers.end(), &wake_));
}

namespace {
std::atomic<bool> g_questions_ended{false};
}  // namespace

void end_questions() {
  g_questions_ended = true;
  wake_questions();
}

bool questions_ended() {
  return g_questions_ended;
}

void wake_interrupt_waiters() {
  std::lock_guard<std::mutex> lock(g_wakers_mutex);
  for (const std::function<void()>* wake : g_wakers)
    (*wake)();
}

int hold_temporary_file(const char* path) {
  if (strlen(path) >= kHeldPathSize)
    return -1;
  for (int slot = 0; slot < kMaxHeldFiles; ++slot) {
    HeldFile& held = g_held[slot];
    bool expected = false;
    if (!held.taken.compare_exchange_strong(expected, true))
      continue;
    held.version.fetch_add(1);
    strcpy(held.path, path);
    held.live.store(true);
    held.version.fetch_add(1);
    return slot;
  }
  return -1;
}

void release_temporary_file(int slot) {
  if (slot < 0 || slot >= kMaxHeldFiles)
    return;
  HeldFile& held = g_held[slot];
  held.version.fetch_add(1);
  held.live.store(false);
  held.version.fetch_add(1);
  held.taken.store(false);
}

void remove_held_files() {
  for (HeldFile& held : g_held) {
    unsigned before = held.version.load();
    if (before % 2 != 0 || !held.live.load())
      continue;
    char path[kHeldPathSize];
    for (size_t i = 0; i < kHeldPathSize; ++i)
      path[i] = held.path[i];
    path[kHeldPathSize - 1] = '\0';
    if (held.version.load() == before)
      remove_file_now(path);
  }
}
