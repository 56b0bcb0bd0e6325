#include "upgrd_util/base/stop_reason.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// In the order of StopReason: code, the card's reason, the console's line
// (and before any card started), the page's sentence, failure.
const StopWords kWords[] = {
    {"", "", "", nullptr, "", false},
    {"interrupted", "interrupted",
     "Interrupted: no further card will be started; {running} still running "
     "will finish (interrupt again to end at once).",
     nullptr, "Interrupted: no further card was started", false},
    {"max_failures", "the failure limit was reached",
     "{failed} cards have failed: no further card will be started.", nullptr,
     "Stopped after {failed} cards failed, the limit of --max-failures", true},
    {"rate", "the module failure rate went above {limit}%",
     "Module loads failed on {failed} of {loads} cards ({percent}%), above "
     "{limit}%: no further card will be started.",
     nullptr,
     "Stopped by the module failure rate: {failed} of {loads} cards that "
     "reached a module load failed it ({percent}%), above the limit of "
     "{limit}%",
     true},
    {"window", "window ended",
     "The window ends before another card's upgrade could: no further card "
     "will be started.",
     "The window ends before any card's upgrade could: no card will be "
     "started.",
     "The window ended at {window_end}: no further card could end within it",
     false},
    {"between_waves", "stopped after wave {wave}",
     "Stopped after wave {wave}: no further card will be started.", nullptr,
     "Stopped after wave {wave}", false},
    {"stop_file", "stop file",
     "The stop file {file} was found: no further card will be started; "
     "{running} still running will finish.",
     nullptr, "Stopped by the stop file {file}: no further card was started",
     false},
    {"disk_full", "disk full",
     "The disk is full: no further card will be started; {running} still "
     "running will end as they can.",
     nullptr, "The disk is full: no further card was started", true},
    {"no_threads", "the system gave no thread to run it",
     "The system gave no thread for the cards: no card will be started.",
     nullptr, "The system gave no thread for the cards: no card was started",
     true},
};

static_assert(sizeof(kWords) / sizeof(kWords[0]) == STOP_NO_THREADS + 1,
              "a row for every stop reason");

// The figures a stop's words name, besides the stop's own.
struct Figures {
  int running = 0;
  std::string window_end;
};

std::string Number(const char* format, double value) {
  char text[48];
  snprintf(text, sizeof(text), format, value);
  return text;
}

std::string Figure(std::string_view name, const Stop& stop,
                   const Figures& figures) {
  if (name == "failed")
    return std::to_string(stop.failed);
  if (name == "loads")
    return std::to_string(stop.loads);
  if (name == "percent")
    return Number("%.0f",
                  stop.loads ? 100.0 * stop.failed / stop.loads : 0.0);
  if (name == "limit")
    return Number("%g", stop.limit);
  if (name == "wave")
    return std::to_string(stop.wave);
  if (name == "file")
    return stop.file;
  if (name == "running")
    return std::to_string(figures.running);
  if (name == "window_end")
    return figures.window_end;
  return "";
}

// `form` with each {name} replaced by its figure.
std::string Fill(const char* form, const Stop& stop, const Figures& figures) {
  std::string text;
  for (const char* at = form; *at;) {
    const char* open = strchr(at, '{');
    const char* close = open ? strchr(open, '}') : nullptr;
    if (!close) {
      text += at;
      break;
    }
    text.append(at, open);
    text += Figure(std::string_view(open + 1, close - open - 1), stop,
                   figures);
    at = close + 1;
  }
  return text;
}

}  // namespace

const StopWords& stop_words(StopReason reason) {
  return kWords[reason];
}

std::string stop_reason_text(const Stop& stop) {
  return Fill(kWords[stop.reason].text, stop, {});
}

const char* stop_reason_code(StopReason reason) {
  return kWords[reason].code;
}

std::string stop_said(const Stop& stop, int running, bool any_started) {
  const StopWords& words = kWords[stop.reason];
  const char* form = !any_started && words.said_before_any
                         ? words.said_before_any
                         : words.said;
  return Fill(form, stop, {running, ""});
}

std::string stop_page_said(const Stop& stop, const std::string& window_end) {
  return Fill(kWords[stop.reason].page, stop, {0, window_end});
}
