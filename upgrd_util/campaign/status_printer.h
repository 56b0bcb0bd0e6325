#ifndef UPGRD_UTIL_CAMPAIGN_STATUS_PRINTER_H_
#define UPGRD_UTIL_CAMPAIGN_STATUS_PRINTER_H_

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/campaign/card_endings.h"
#include "upgrd_util/campaign/card_pool.h"

/// "42 s", "3 min 30 s".
std::string duration_text(double seconds);

/// The campaign's console while its cards run: a line when a card starts
/// and one when it ends, the lines of the pool's decisions, and on a
/// terminal a status line below them (running, upgraded, failed, waiting,
/// time left), redrawn at most once a second. Lines are queued from any
/// thread and written by Show, on one thread only.
class StatusPrinter {
 public:
  /// `card_seconds`: how long a card takes at least, for the time left
  /// before any card has ended well. The status line's counts are those of
  /// `endings`.
  StatusPrinter(size_t cards, int parallel, bool dry_run, double card_seconds,
                const CardEndings* endings);

  void Started(const upgrade_target& card);
  void Ended(const upgrade_target& card, CardOutcome outcome, double seconds);
  void Retried(const upgrade_target& card, CardOutcome outcome, double seconds,
               double delay);
  /// A card upgraded, to be checked again after the soak in `delay`
  /// seconds; and that check starting (Ended follows).
  void Soaking(const upgrade_target& card, double seconds, double delay);
  void SoakStarted(const upgrade_target& card);
  /// The one line that says why no further card starts.
  void Stopped(const Stop& stop, int running);
  /// The one line of a pause (SIGUSR1) or a resume (SIGUSR2); the status
  /// line says paused meanwhile.
  void Paused(bool paused, int running);
  void WorkersShort(int started, int wanted);
  /// The line of a wave's end, by the report's words, written at once.
  void WaveEnded(int number, int waves, const CardEndings::Wave& wave);
  /// Queues one whole line of printf-style text.
  void Say(const char* format, ...) __attribute__((format(printf, 2, 3)));

  /// Writes the queued lines; on a terminal at most once a second (always
  /// when `last`), with the status line below them unless `last`.
  void Show(bool last);

  /// How often Show should be called while cards run, besides each event:
  /// a terminal's status line is redrawn each second.
  int tick_ms() const { return 1000; }

  /// "\t2 running, 1 upgraded, 0 failed, 5 waiting, about 9 min 0 s left".
  std::string StatusLine() const;

 private:
  std::string StatusLineLocked() const;

  const size_t cards_;
  const int parallel_;
  const bool dry_run_;
  const double card_seconds_;
  const CardEndings* endings_;
  const bool terminal_;
  bool drawn_ = false;  // the status line, on a terminal
  double drawn_at_ = 0;

  mutable std::mutex mutex_;  // guards everything below
  std::deque<std::string> lines_;
  size_t started_ = 0;
  int running_ = 0;
  bool stopped_ = false;
  bool paused_ = false;
};

#endif  // UPGRD_UTIL_CAMPAIGN_STATUS_PRINTER_H_
