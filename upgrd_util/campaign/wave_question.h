#ifndef UPGRD_UTIL_CAMPAIGN_WAVE_QUESTION_H_
#define UPGRD_UTIL_CAMPAIGN_WAVE_QUESTION_H_

#include <cstddef>

#include "upgrd_util/campaign/status_printer.h"

/// The operator's answer between waves: without --yes, each wave after the
/// first starts only when the operator says so at the console. Asked on
/// the thread that writes the console (the pool's own).
class WaveQuestion {
 public:
  /// `ask` false (--yes): every wave starts unasked.
  WaveQuestion(StatusPrinter* printer, bool ask)
      : printer_(printer), ask_(ask) {}

  /// Whether wave `number` of `waves`, of `size` cards, may start; no
  /// answer (input ended, an interrupt) is no.
  bool Ask(int number, int waves, size_t size);

 private:
  StatusPrinter* printer_;
  const bool ask_;
};

#endif  // UPGRD_UTIL_CAMPAIGN_WAVE_QUESTION_H_
