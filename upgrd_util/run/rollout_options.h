#ifndef UPGRD_UTIL_RUN_ROLLOUT_OPTIONS_H_
#define UPGRD_UTIL_RUN_ROLLOUT_OPTIONS_H_

#include <ctime>
#include <string>
#include <vector>

/// One wave's size as given: a count of cards, or a percentage of the
/// campaign's cards.
struct WaveSize {
  bool percent = false;
  double value = 0;  // a count: a whole number from 1; a percentage: above 0, at most 100
};

/// An instant to end by, fixed once.
struct Deadline {
  time_t at = 0;     // the instant
  std::string text;  // its local date, time and offset then: "2026-12-08T05:30:00+01:00"
};

/// The rollout options, read once with the other options.
struct RolloutOptions {
  int max_failures = 0;          // failed cards after which none starts; 0: none
  std::vector<WaveSize> waves_given;  // --waves as given; empty: one wave
  double max_failure_rate = -1;  // percent, 0 to 100; -1: no limit
  bool windowed = false;         // --not-after was given
  Deadline deadline;             // its end
  double deadline_clock = 0;     // the same instant on platform().clock->Seconds()
  int retry_unreachable = 0;     // more tries, 0 to 10
  double link_rate = 1e6;        // bytes a second the uploads share (the plan's guess)
  bool link_rate_given = false;  // --link-rate was given: the uploads keep to it
  int per_group = 0;             // cards of one group at once; 0: no limit
  double group_rate = 0;         // bytes a second of each group's uploads; 0: no cap
  // --soak: each upgraded card is checked again this long after it ended,
  // before the next wave starts; 0: never.
  double soak_seconds = 0;
  /// Whether any of those a dry run cannot take but for its plan was
  /// given: --max-failures, which a dry run never reaches, is not one.
  bool any() const;
};

/// Reads "1,5%,25%". Returns false, with one line naming the text in *error.
bool parse_waves(const std::string& text, std::vector<WaveSize>* waves, std::string* error);

/// The sizes `waves` make of `cards` cards: percentages rounded up, each at
/// least 1, none past the cards; the cards left over form a last wave; no
/// empty wave. Empty `waves`: one wave of all (none for 0 cards).
std::vector<size_t> wave_sizes(const std::vector<WaveSize>& waves, size_t cards);

/// Reads "10%" or "10" (a percentage 0 to 100, plain decimal, "2.5" allowed).
bool parse_failure_rate(const std::string& text, double* percent, std::string* error);

/// Reads a link's rate in bytes a second: a plain decimal with k, M or G
/// (thousands, millions, billions), and B/s after, if one likes ("2.5MB/s").
bool parse_link_rate(const std::string& text, double* bytes_per_second, std::string* error);

/// Reads a time to wait: whole seconds, or a whole number of seconds,
/// minutes or hours ("90", "90s", "10m", "1h"), from 1 s to 24 h. Returns
/// false, with one line naming the text in *error.
bool parse_duration(const std::string& text, double* seconds, std::string* error);

/// The instant `text` names, seen from `now` (local time of the process's
/// time zone, as the clock gives it): "HH:MM" is the next such local wall
/// time after now; "YYYY-MM-DDTHH:MM" or "YYYY-MM-DDTHH:MM:SS" a local date
/// and time to come. Returns false with one line in *error otherwise.
bool parse_deadline(const std::string& text, const struct tm& now, Deadline* deadline, std::string* error);

#endif  // UPGRD_UTIL_RUN_ROLLOUT_OPTIONS_H_
