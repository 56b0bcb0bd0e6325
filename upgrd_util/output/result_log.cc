#include "upgrd_util/output/result_log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/output/grouped_sync.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/platform.h"

const char kToolName[] = "VRN Upgrade Tool v1.6c";
const char kResultLogName[] = "result.txt";

namespace {

// Whether the log is empty or ends with a line end.
bool EndsWithLineEnd() {
  FILE* log = fopen(kResultLogName, "rb");
  if (!log)
    return true;
  bool ends = fseek(log, -1, SEEK_END) != 0 || fgetc(log) == '\n';
  fclose(log);
  return ends;
}

// result.txt, locked and not yet written: whether this run made it.
FILE* g_locked = nullptr;
bool g_made = false;

}  // namespace

bool lock_result_log(std::string* reason, bool* in_use) {
  if (in_use)
    *in_use = false;
  if (g_locked)
    return true;
  // A run that lets the directory go removes a result.txt it made: one
  // opened just before is no longer the file named, and is looked up again.
  for (int turn = 0; turn < 100; ++turn) {
    std::error_code unknown;
    bool made = !std::filesystem::exists(kResultLogName, unknown);
    FILE* log = fopen(kResultLogName, "a+");
    if (!log) {
      *reason = strerror(errno);
      return false;
    }
    // Two runs in one directory would interleave their entries and share
    // their listing file.
    if (!lock_exclusively(log)) {
      fclose(log);
      *reason = "another run is using this directory";
      if (in_use)
        *in_use = true;
      return false;
    }
    if (still_named(log, kResultLogName)) {
      g_locked = log;
      g_made = made;
      return true;
    }
    fclose(log);
  }
  *reason = "it was made anew a hundred times over";
  return false;
}

void unlock_result_log() {
  if (!g_locked)
    return;
  bool empty = fseek(g_locked, 0, SEEK_END) == 0 && ftell(g_locked) == 0;
  if (g_made && empty)
    remove_locked_file(g_locked, kResultLogName);
  else
    fclose(g_locked);
  g_locked = nullptr;
}

bool open_result_log(std::string* reason, bool* in_use) {
  close_result_log();
  if (!lock_result_log(reason, in_use))
    return false;
  result_log = g_locked;
  g_locked = nullptr;
  // A killed run leaves its last entry unfinished; this run's header must
  // not be glued to it.
  if (!EndsWithLineEnd())
    log_printf("\n");
  char stamp[kTimestampSize];
  format_timestamp(stamp);
  log_printf("%s\n", kToolName);
  log_printf("%s\n", stamp);
  log_flush();
  return true;
}

bool result_log_is_open() {
  return result_log != nullptr;
}

namespace {
thread_local CardLog* t_card_log = nullptr;
std::mutex g_block_mutex;
// The result log's card blocks, written beside its stream.
AppendFile g_blocks;
GroupedSync g_block_sync([](std::string* reason) {
  return g_blocks.Sync(reason);
});
}  // namespace

void log_printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (t_card_log) {
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length > 0) {
      std::string entry(static_cast<size_t>(length) + 1, '\0');
      vsnprintf(entry.data(), entry.size(), format, args);
      entry.pop_back();
      t_card_log->text += entry;
      if (t_card_log->journal)
        t_card_log->unflushed += entry;
    }
  } else if (result_log) {
    vfprintf(result_log, format, args);
  }
  va_end(args);
}

void log_flush() {
  if (t_card_log) {
    // A card's names and replies read in its journal as in its block.
    if (t_card_log->journal && !t_card_log->unflushed.empty() &&
        t_card_log->journal->Append(readable_text(t_card_log->unflushed),
                                    &t_card_log->journal_fault))
      t_card_log->unflushed.clear();
  } else if (result_log) {
    fflush(result_log);
  }
}

ScopedLogRoute::ScopedLogRoute(CardLog* log) : previous_(t_card_log) {
  t_card_log = log;
}

ScopedLogRoute::~ScopedLogRoute() {
  t_card_log = previous_;
}

bool log_append_block(const std::string& text, std::string* reason,
                      bool* full) {
  std::string ignored;
  if (!reason)
    reason = &ignored;
  if (full)
    *full = false;
  {
    std::lock_guard<std::mutex> lock(g_block_mutex);
    if (!result_log)
      return true;
    // The stream's own entries first, so that a block that does not fit is
    // cut back to the end of them.
    fflush(result_log);
    if (!g_blocks.is_open() && !g_blocks.Share(result_log, reason))
      return false;
    if (!g_blocks.Append(text, reason)) {
      if (full)
        *full = g_blocks.full();
      return false;
    }
  }
  return g_block_sync.Sync(reason);
}

void close_result_log() {
  g_blocks.Close();
  if (!result_log)
    return;
  fclose(result_log);
  result_log = nullptr;
}

void format_timestamp(char* buffer) {
  static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed",
                                   "Thu", "Fri", "Sat"};
  static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr",
                                      "May", "Jun", "Jul", "Aug",
                                      "Sep", "Oct", "Nov", "Dec"};
  struct tm now;
  if (!platform().clock->LocalTime(&now) || now.tm_wday < 0 ||
      now.tm_wday > 6 || now.tm_mon < 0 || now.tm_mon > 11 ||
      now.tm_mday < 1 || now.tm_mday > 31 || now.tm_hour < 0 ||
      now.tm_hour > 23 || now.tm_min < 0 || now.tm_min > 59 ||
      now.tm_sec < 0 || now.tm_sec > 60) {
    snprintf(buffer, kTimestampSize, "unknown time\n");
    return;
  }
  const char* marker = now.tm_hour >= 12 ? "PM" : "AM";
  unsigned hour = static_cast<unsigned>(now.tm_hour);
  if (hour > 12)
    hour -= 12;
  if (hour == 0)
    hour = 12;
  // The asctime layout up to the seconds, which is what the log has always
  // shown, with the hour on the 12-hour clock.
  snprintf(buffer, kTimestampSize, "%.3s %.3s%3u %.2u:%.2u:%.2u %.2s\n",
           kDays[now.tm_wday], kMonths[now.tm_mon],
           static_cast<unsigned>(now.tm_mday) % 100u, hour % 100u,
           static_cast<unsigned>(now.tm_min) % 100u,
           static_cast<unsigned>(now.tm_sec) % 100u, marker);
}
