#ifndef UPGRD_UTIL_RUN_ROLLOUT_OPTIONS_H_
#define UPGRD_UTIL_RUN_ROLLOUT_OPTIONS_H_

#include <ctime>
#include <string>
#include <vector>

/// The sizes of the waves that `text` ("1,10%,50%": counts, or percentages
/// of the campaign's `cards`, rounded up, at least 1) makes of `cards`
/// cards; the cards left over form a last wave, and no wave goes past the
/// cards. Returns false, with what is wrong in *error, for a malformed list.
bool wave_sizes(const std::string& text, size_t cards,
                std::vector<size_t>* sizes, std::string* error);

/// The percentage that `text` ("10%", or "10") gives, 0 to 100. Returns
/// false, with what is wrong in *error, for anything else.
bool failure_rate(const std::string& text, double* percent, std::string* error);

/// The seconds from `now` (local time) to the time `text` names: "HH:MM",
/// the next such local time, or "YYYY-MM-DDTHH:MM" (":SS" may follow),
/// a local date and time to come. Returns false, with what is wrong in
/// *error, else.
bool seconds_until(const std::string& text, const struct tm& now,
                   double* seconds, std::string* error);

#endif  // UPGRD_UTIL_RUN_ROLLOUT_OPTIONS_H_
