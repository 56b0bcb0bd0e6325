#ifndef UPGRD_UTIL_OUTPUT_RESULT_LOG_H_
#define UPGRD_UTIL_OUTPUT_RESULT_LOG_H_

#include <cstdio>
#include <string>

#include "upgrd_util/platform/append_file.h"

/// The tool's name, as the log header and the banner show it.
extern const char kToolName[];

/// The log's file name in the working directory.
extern const char kResultLogName[];

/// Opens "result.txt" for appending (created when missing, never truncated)
/// and takes the lock that keeps a second run out of this directory,
/// without writing to it: a campaign holds the directory before it makes
/// any other file. Returns false, with the reason in *reason, when it
/// cannot be opened or another process holds its lock (then *in_use, when
/// given, is set). True at once while held.
bool lock_result_log(std::string* reason, bool* in_use = nullptr);

/// Lets go of the lock of lock_result_log before open_result_log: a run
/// that ends there has written nothing, and a result.txt it made is
/// removed.
void unlock_result_log();

/// Takes the lock as lock_result_log does, unless it is held already, ends
/// an unfinished last line of an earlier run and writes the header: the
/// tool name, the time stamp, an empty line. Returns false, with the reason
/// in *reason, when it cannot be opened or another process holds its lock
/// (then *in_use, when given, is set and nothing was written); the log is
/// then closed.
bool open_result_log(std::string* reason, bool* in_use = nullptr);

/// True while the log is open.
bool result_log_is_open();

/// Appends printf-style text to the log. Does nothing once it is closed;
/// write errors are ignored.
void log_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// Hands everything written so far to the system, so that a stopped or
/// killed run loses no finished entry.
void log_flush();

/// Flushes and closes the log; later writes are dropped.
void close_result_log();

/// A card's own log while it is upgraded beside others: its entries, kept
/// for its block in the result log, and its journal, a file that receives
/// the entries as they are flushed, so that a killed run loses none. Without
/// a journal, entries kept to be written in one piece (the summary).
struct CardLog {
  AppendFile* journal = nullptr;
  std::string text;
  // Entries since the last flush; kept when the journal could not take
  // them (a full disk), for the next flush, with the system's reason.
  std::string unflushed;
  std::string journal_fault;
};

/// For its life, sends the calling thread's log_printf and log_flush to
/// `log` instead of the result log.
struct ScopedLogRoute {
  explicit ScopedLogRoute(CardLog* log);
  ~ScopedLogRoute();

 private:
  ScopedLogRoute(const ScopedLogRoute&) = delete;
  ScopedLogRoute& operator=(const ScopedLogRoute&) = delete;
  CardLog* previous_;
};

/// Appends `text` to the result log in one piece, even when several
/// threads append at once, or not at all (a full disk), and returns once it
/// is on the disk itself (blocks appended while a sync is under way share
/// the next). Returns false, with the system's reason in *reason and in
/// *full whether the disk was full, when it is not there (nothing is
/// written once the log is closed, and that is no failure).
bool log_append_block(const std::string& text, std::string* reason = nullptr,
                      bool* full = nullptr);

/// Bytes that format_timestamp writes, with the terminating NUL.
const int kTimestampSize = 24;

/// Writes the local time as "Www Mmm dd hh:mm:ss AM\n" (12-hour clock, the
/// day right-aligned in two places) into `buffer`, which holds at least
/// kTimestampSize bytes. Without a clock reading it writes "unknown time\n".
void format_timestamp(char* buffer);

#endif  // UPGRD_UTIL_OUTPUT_RESULT_LOG_H_
