#include "upgrd_util/campaign/status_printer.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "upgrd_util/base/stop_reason.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/platform.h"

namespace {

// Wide enough to blank any status line.
const int kStatusWidth = 78;

}  // namespace

std::string duration_text(double seconds) {
  long whole = static_cast<long>(seconds + 0.5);
  char text[48];
  if (whole < 60)
    snprintf(text, sizeof(text), "%ld s", whole);
  else
    snprintf(text, sizeof(text), "%ld min %ld s", whole / 60, whole % 60);
  return text;
}

StatusPrinter::StatusPrinter(size_t cards, int parallel, bool dry_run,
                             double card_seconds, const CardEndings* endings)
    : cards_(cards),
      parallel_(parallel),
      dry_run_(dry_run),
      card_seconds_(card_seconds),
      endings_(endings),
      terminal_(platform().console->IsTerminal()) {}

void StatusPrinter::Started(const upgrade_target& card) {
  if (card.state.tries > 1)
    Say("\t%-17sstarted again (try %d)\n", card.ip, card.state.tries);
  else
    Say("\t%-17sstarted\n", card.ip);
  std::lock_guard<std::mutex> lock(mutex_);
  started_ += card.state.tries <= 1;
  ++running_;
}

void StatusPrinter::Retried(const upgrade_target& card, CardOutcome outcome,
                            double seconds, double delay) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
  }
  const OutcomeWords& words = outcome_words(outcome);
  Say("\t%-17s%s in %s; tried again in %s\n", card.ip, words.said,
      duration_text(seconds).c_str(), duration_text(delay).c_str());
}

void StatusPrinter::Soaking(const upgrade_target& card, double seconds,
                            double delay) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
  }
  Say("\t%-17supgraded in %s; checked again after the soak, in %s\n",
      card.ip, duration_text(seconds).c_str(), duration_text(delay).c_str());
}

void StatusPrinter::SoakStarted(const upgrade_target& card) {
  Say("\t%-17schecked again after the soak\n", card.ip);
  std::lock_guard<std::mutex> lock(mutex_);
  ++running_;
}

void StatusPrinter::Ended(const upgrade_target& card, CardOutcome outcome,
                          double seconds) {
  const OutcomeWords& words = outcome_words(outcome);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
  }
  if (!dry_run_ && outcome == OUTCOME_UPGRADED &&
      card.state.zel_already_current)
    Say("\t%-17supgraded (APP only, its ZEL was already current) in %s\n",
        card.ip, duration_text(seconds).c_str());
  else if (outcome == OUTCOME_LOCAL_ERROR ||
           (outcome == OUTCOME_SOAK_FAILED && !card.state.reason.empty()))
    Say("\t%-17s%s (%s) in %s\n", card.ip, words.said,
        card.state.reason.c_str(), duration_text(seconds).c_str());
  else
    Say("\t%-17s%s in %s\n", card.ip,
        dry_run_ ? words.said_dry : words.said,
        duration_text(seconds).c_str());
}

void StatusPrinter::Stopped(const Stop& stop, int running) {
  size_t started = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    started = started_;
  }
  std::string said = stop_said(stop, running, started > 0);
  if (!said.empty())
    Say("\t%s\n", said.c_str());
}

void StatusPrinter::Paused(bool paused, int running) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ = paused;
  }
  if (paused)
    Say("\tPaused (SIGUSR1): no card will be started until SIGUSR2; %d "
        "still running will finish.\n",
        running);
  else
    Say("\tResumed (SIGUSR2): cards are started again.\n");
}

void StatusPrinter::WorkersShort(int started, int wanted) {
  if (started == 0)
    Say("\tNo thread could be started for the cards: none was started.\n");
  else
    Say("\tOnly %d of %d threads could be started: %d cards run at a "
        "time.\n",
        started, wanted, started);
}

void StatusPrinter::WaveEnded(int number, int waves,
                              const CardEndings::Wave& wave) {
  // By the report's words: "upgraded" counts only cards that were loaded.
  std::string counts;
  for (const auto& [outcome, count] : wave.ended)
    counts += (counts.empty() ? "" : ", ") + std::to_string(count) + " " +
              outcome_words(outcome).word;
  if (wave.waiting > 0)
    counts += (counts.empty() ? "" : ", ") + std::to_string(wave.waiting) +
              " to be tried again";
  Say("\tWave %d of %d ended: %s.\n", number, waves, counts.c_str());
  Show(true);
}

void StatusPrinter::Say(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  // What a card said may be in it.
  std::string shown = readable_text(line);
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(std::move(shown));
}

void StatusPrinter::Show(bool last) {
  double now = platform().clock->Seconds();
  if (terminal_ && !last && drawn_ && now - drawn_at_ < 1.0)
    return;
  std::deque<std::string> lines;
  std::string status;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines.swap(lines_);
    if (terminal_ && !last)
      status = StatusLineLocked();
  }
  if (terminal_)
    console_printf("\r%*s\r", kStatusWidth, "");
  for (const std::string& line : lines)
    console_printf("%s", line.c_str());
  if (!status.empty())
    console_printf("%s", status.c_str());
  drawn_ = terminal_;
  drawn_at_ = now;
}

std::string StatusPrinter::StatusLine() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return StatusLineLocked();
}

std::string StatusPrinter::StatusLineLocked() const {
  size_t waiting = stopped_ ? 0 : cards_ - started_;
  int succeeded = endings_->succeeded();
  double seconds_succeeded = endings_->seconds_succeeded();
  char text[160];
  int length = snprintf(text, sizeof(text),
                        "\t%s%d running, %d upgraded, %d failed, %d waiting",
                        paused_ && !stopped_ ? "paused: " : "", running_,
                        succeeded, endings_->failed(),
                        static_cast<int>(waiting));
  std::string line(text, static_cast<size_t>(std::max(length, 0)));
  // Cards take about as long as those that ended well (quick failures say
  // nothing of it), before the first of them the mandated waits; the
  // running ones are half done, on average.
  double per_card =
      succeeded > 0 ? seconds_succeeded / succeeded : card_seconds_;
  if (per_card > 0 && waiting + running_ > 0) {
    size_t waves = (waiting + parallel_ - 1) / parallel_;
    double left = per_card * (static_cast<double>(waves) + 0.5);
    line += ", about ";
    line += duration_text(left);
    line += " left";
  }
  return line;
}
