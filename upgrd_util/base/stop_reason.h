#ifndef UPGRD_UTIL_BASE_STOP_REASON_H_
#define UPGRD_UTIL_BASE_STOP_REASON_H_

#include <string>

/// Why no further card starts.
enum StopReason {
  STOP_NONE,
  STOP_INTERRUPTED,    // a signal came
  STOP_MAX_FAILURES,   // --max-failures cards failed
  STOP_RATE,           // too many cards failed their module load
  STOP_WINDOW,         // no card's upgrade can end within the window
  STOP_BETWEEN_WAVES,  // the operator stopped, or gave no answer
  STOP_STOP_FILE,      // the stop file appeared
  STOP_DISK_FULL,      // a card's file, block or record found no room
  STOP_NO_THREADS,     // the system gave no thread to run cards on
};

/// A stop with what the operator is told of it.
struct Stop {
  StopReason reason = STOP_NONE;
  int failed = 0;   // STOP_MAX_FAILURES, STOP_RATE: cards that failed
  int loads = 0;    // STOP_RATE: cards that reached a module load
  double limit = 0; // STOP_RATE: the limit in percent
  int wave = 0;     // STOP_BETWEEN_WAVES: the wave after which it stopped
  std::string file{};  // STOP_STOP_FILE: its name
};

/// What one stop reason is called where it shows. The texts name the
/// stop's figures in braces, filled in by the functions below: {failed},
/// {loads}, {percent} (of the loads that failed), {limit}, {wave}, {file},
/// {running} (cards still running) and {window_end}.
struct StopWords {
  const char* code;  // a word that stays ("max_failures"), for scripts
  const char* text;  // a card not started: the report's and summary's reason
  const char* said;  // the console's line as starting stops
  const char* said_before_any;  // the same before any card started, or nullptr
  const char* page;  // the page's sentence once the campaign ended
  bool failure;  // it tells of failed cards or a failed workstation, not of
                 // the operator or the clock
};

/// The words of `reason` (STOP_NONE has empty ones).
const StopWords& stop_words(StopReason reason);

/// The reason a card that was not started gives in the report and the
/// summary ("window ended").
std::string stop_reason_text(const Stop& stop);

/// The stop's reason as a word that stays ("max_failures"), for scripts.
const char* stop_reason_code(StopReason reason);

/// The console's line of the stop, `running` cards going on, without its
/// tab and line end ("" for STOP_NONE).
std::string stop_said(const Stop& stop, int running, bool any_started);

/// The page's sentence of the stop, the window ending at `window_end`.
std::string stop_page_said(const Stop& stop, const std::string& window_end);

#endif  // UPGRD_UTIL_BASE_STOP_REASON_H_
