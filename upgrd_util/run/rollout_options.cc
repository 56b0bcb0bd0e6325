#include "upgrd_util/run/rollout_options.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <system_error>

#include "upgrd_util/output/campaign_report.h"

namespace {

// Bounds of a plain decimal: seven digits hold the largest count, and six
// decimals are finer than any wave or rate needs.
const size_t kMostWholeDigits = 7;
const size_t kMostDecimals = 6;
const double kMostCards = 1000000;

// Reads a plain decimal: digits, and where `fraction` allows, one '.' with
// digits on both sides. Signs, blanks, exponents, hex, "nan" and "inf",
// which strtod would take, are refused before from_chars sees the text.
bool read_decimal(std::string_view text, bool fraction, double* value) {
  size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view decimals =
      point == std::string_view::npos ? "" : text.substr(point + 1);
  if (whole.empty() || whole.size() > kMostWholeDigits)
    return false;
  if (point != std::string_view::npos &&
      (!fraction || decimals.empty() || decimals.size() > kMostDecimals))
    return false;
  for (std::string_view digits : {whole, decimals}) {
    for (char c : digits) {
      if (c < '0' || c > '9')
        return false;
    }
  }
  const char* end = text.data() + text.size();
  std::from_chars_result read = std::from_chars(text.data(), end, *value);
  return read.ec == std::errc() && read.ptr == end;
}

// `percent` of `cards`, rounded up, in whole millionths of a percent: the
// product of doubles would make 16.1% of 1000 cards 162.
size_t percent_of(double percent, size_t cards) {
  if (!(percent > 0))
    return 0;
  if (!(percent < 100))
    return cards;
  const unsigned long long kAll = 100000000;  // 100% in millionths
  unsigned long long millionths = std::llround(percent * 1e6);
  unsigned long long high = cards / kAll;
  unsigned long long low = cards % kAll;
  return high * millionths + (low * millionths + kAll - 1) / kAll;
}

// A local date and time as written.
struct WallTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Whether `text` has the shape of `pattern`, whose 'd's stand for digits.
bool has_shape(const std::string& text, const char* pattern) {
  if (text.size() != strlen(pattern))
    return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool digit = text[i] >= '0' && text[i] <= '9';
    if (pattern[i] == 'd' ? !digit : text[i] != pattern[i])
      return false;
  }
  return true;
}

// The number that the `count` digits of `text` from `at` write.
int digits_at(const std::string& text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i)
    value = value * 10 + (text[i] - '0');
  return value;
}

std::chrono::year_month_day date_of(const WallTime& wall) {
  return std::chrono::year_month_day{
      std::chrono::year(wall.year),
      std::chrono::month(static_cast<unsigned>(wall.month)),
      std::chrono::day(static_cast<unsigned>(wall.day))};
}

// The instants, earliest first, at which the local clock reads `wall`.
// mktime is asked with standard time, daylight-saving time and its own
// guess; only answers that read back as `wall` count. A time that the
// clocks skip has none, one that they go through twice has two. Returns
// false when mktime could tell none (a date past what the system keeps).
bool instants(const WallTime& wall, std::vector<time_t>* found) {
  bool told = false;
  for (int dst : {0, 1, -1}) {
    struct tm t = {};
    t.tm_year = wall.year - 1900;
    t.tm_mon = wall.month - 1;
    t.tm_mday = wall.day;
    t.tm_hour = wall.hour;
    t.tm_min = wall.minute;
    t.tm_sec = wall.second;
    t.tm_isdst = dst;
    time_t at = mktime(&t);
    if (at == static_cast<time_t>(-1))
      continue;
    told = true;
    if (t.tm_year == wall.year - 1900 && t.tm_mon == wall.month - 1 &&
        t.tm_mday == wall.day && t.tm_hour == wall.hour &&
        t.tm_min == wall.minute && t.tm_sec == wall.second &&
        std::find(found->begin(), found->end(), at) == found->end())
      found->push_back(at);
  }
  std::sort(found->begin(), found->end());
  return told;
}

// "2026-12-08T05:30:00+01:00": `wall` with the offset from UTC that the
// zone had at `at`. The offset is the local fields read as if they were
// UTC, less the instant, by the calendar alone: neither tm_gmtoff nor
// timegm is on every system.
std::string deadline_text(const WallTime& wall, time_t at) {
  long long local =
      static_cast<long long>(std::chrono::sys_days(date_of(wall))
                                 .time_since_epoch()
                                 .count()) *
          86400 +
      wall.hour * 3600 + wall.minute * 60 + wall.second;
  char text[96];
  snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d", wall.year,
           wall.month, wall.day, wall.hour, wall.minute, wall.second);
  return text + utc_offset_text(local - static_cast<long long>(at));
}

std::string date_text(const WallTime& wall) {
  char text[48];
  snprintf(text, sizeof(text), "%04d-%02d-%02d", wall.year, wall.month,
           wall.day);
  return text;
}

// The local wall time `text` writes into *wall: "HH:MM" (*daily, on the
// date of `now`), "YYYY-MM-DDTHH:MM" or "YYYY-MM-DDTHH:MM:SS". Returns
// false with one line in *error for another shape, no time of day or no
// day of the calendar.
bool read_wall_time(const std::string& text, const struct tm& now,
                    WallTime* wall, bool* daily, std::string* error) {
  *daily = has_shape(text, "dd:dd");
  if (*daily) {
    wall->year = now.tm_year + 1900;
    wall->month = now.tm_mon + 1;
    wall->day = now.tm_mday;
    wall->hour = digits_at(text, 0, 2);
    wall->minute = digits_at(text, 3, 2);
  } else if (has_shape(text, "dddd-dd-ddTdd:dd") ||
             has_shape(text, "dddd-dd-ddTdd:dd:dd")) {
    wall->year = digits_at(text, 0, 4);
    wall->month = digits_at(text, 5, 2);
    wall->day = digits_at(text, 8, 2);
    wall->hour = digits_at(text, 11, 2);
    wall->minute = digits_at(text, 14, 2);
    if (text.size() > 16)
      wall->second = digits_at(text, 17, 2);
  } else {
    *error = "\"" + text +
             "\" is no time: HH:MM, YYYY-MM-DDTHH:MM or YYYY-MM-DDTHH:MM:SS";
    return false;
  }
  if (wall->hour > 23 || wall->minute > 59 || wall->second > 59) {
    *error = "\"" + text +
             "\" is no time of day: hours 00 to 23, minutes and seconds 00 "
             "to 59";
    return false;
  }
  if (!date_of(*wall).ok()) {
    *error = "\"" + text + "\" names no day of the calendar";
    return false;
  }
  return true;
}

// Moves *wall to the day after `now`, whose date the calendar tells (from
// noon, which no change of the clocks comes near), not 24 hours on.
void to_the_next_day(const struct tm& now, WallTime* wall) {
  struct tm next = {};
  next.tm_year = now.tm_year;
  next.tm_mon = now.tm_mon;
  next.tm_mday = now.tm_mday + 1;
  next.tm_hour = 12;
  next.tm_isdst = -1;
  mktime(&next);
  wall->year = next.tm_year + 1900;
  wall->month = next.tm_mon + 1;
  wall->day = next.tm_mday;
}

// Why no instant after `now` reads `wall`: it came before (`passed`: the
// clock read it), mktime told nothing of it (`told` false), or the clocks
// skip it. Before today, mktime may tell nothing (before 1970 on Windows).
std::string why_no_instant(const std::string& text, const WallTime& wall,
                           const struct tm& now, bool passed, bool told) {
  WallTime today;
  today.year = now.tm_year + 1900;
  today.month = now.tm_mon + 1;
  today.day = now.tm_mday;
  if (passed || date_of(wall) < date_of(today))
    return "\"" + text + "\" has passed";
  if (!told)
    return "\"" + text + "\" lies beyond the dates this system can tell";
  return "\"" + text + "\" does not exist on " + date_text(wall) +
         ": the clocks skip that time";
}

}  // namespace

bool RolloutOptions::any() const {
  return !waves_given.empty() || max_failure_rate >= 0 || windowed ||
         retry_unreachable > 0 || soak_seconds > 0;
}

bool parse_waves(const std::string& text, std::vector<WaveSize>* waves,
                 std::string* error) {
  std::vector<WaveSize> read;
  for (size_t at = 0;;) {
    size_t end = std::min(text.find(',', at), text.size());
    std::string_view part(text.data() + at, end - at);
    WaveSize wave;
    wave.percent = !part.empty() && part.back() == '%';
    if (wave.percent)
      part.remove_suffix(1);
    if (!read_decimal(part, wave.percent, &wave.value) || !(wave.value > 0) ||
        wave.value > (wave.percent ? 100 : kMostCards)) {
      *error = "\"" + text + "\": wave " + std::to_string(read.size() + 1) +
               " is neither a count of cards, 1 to 1000000, nor a "
               "percentage above 0% up to 100%";
      return false;
    }
    read.push_back(wave);
    if (end == text.size())
      break;
    at = end + 1;
  }
  *waves = read;
  return true;
}

std::vector<size_t> wave_sizes(const std::vector<WaveSize>& waves,
                               size_t cards) {
  std::vector<size_t> sizes;
  size_t placed = 0;
  for (const WaveSize& wave : waves) {
    size_t left = cards - placed;
    if (left == 0)
      break;
    size_t size = 0;
    if (wave.percent)
      size = percent_of(wave.value, cards);
    else if (!(wave.value < static_cast<double>(left)))
      size = left;
    else if (wave.value > 0)
      size = static_cast<size_t>(wave.value);
    size = std::clamp<size_t>(size, 1, left);
    sizes.push_back(size);
    placed += size;
  }
  if (placed < cards)
    sizes.push_back(cards - placed);
  return sizes;
}

bool parse_failure_rate(const std::string& text, double* percent,
                        std::string* error) {
  std::string_view number(text);
  if (!number.empty() && number.back() == '%')
    number.remove_suffix(1);
  double value = 0;
  if (!read_decimal(number, true, &value) || value > 100) {
    *error = "\"" + text + "\" is not a percentage from 0% to 100%";
    return false;
  }
  *percent = value;
  return true;
}

bool parse_duration(const std::string& text, double* seconds,
                    std::string* error) {
  std::string_view number(text);
  double unit = 1;
  if (!number.empty()) {
    switch (number.back()) {
      case 'm':
        unit = 60;
        break;
      case 'h':
        unit = 3600;
        break;
    }
  }
  if (unit > 1 || (!number.empty() && number.back() == 's'))
    number.remove_suffix(1);
  double value = 0;
  if (!read_decimal(number, false, &value) || !(value * unit >= 1) ||
      value * unit > 24 * 3600) {
    *error = "\"" + text +
             "\" is not a time from 1 s to 24 h in whole seconds, minutes "
             "or hours (90, 90s, 10m, 1h)";
    return false;
  }
  *seconds = value * unit;
  return true;
}

bool parse_link_rate(const std::string& text, double* bytes_per_second,
                     std::string* error) {
  std::string_view number(text);
  if (number.size() > 3 && number.substr(number.size() - 3) == "B/s")
    number.remove_suffix(3);
  double unit = 1;
  if (!number.empty()) {
    switch (number.back()) {
      case 'k':
      case 'K':
        unit = 1e3;
        break;
      case 'M':
        unit = 1e6;
        break;
      case 'G':
        unit = 1e9;
        break;
    }
  }
  if (unit > 1)
    number.remove_suffix(1);
  double value = 0;
  if (!read_decimal(number, true, &value) || !(value * unit >= 1)) {
    *error = "\"" + text +
             "\" is not a rate in bytes a second, at least 1 (1000000, "
             "500k, 1M, 2.5MB/s)";
    return false;
  }
  *bytes_per_second = value * unit;
  return true;
}

bool parse_deadline(const std::string& text, const struct tm& now,
                    Deadline* deadline, std::string* error) {
  WallTime wall;
  bool daily = false;
  if (!read_wall_time(text, now, &wall, &daily, error))
    return false;
  struct tm start = now;
  time_t now_at = mktime(&start);
  std::vector<time_t> found;
  bool told = instants(wall, &found);
  // The first time the clock reads it after now.
  auto after = std::upper_bound(found.begin(), found.end(), now_at);
  if (daily && after == found.end() &&
      wall.hour * 60 + wall.minute <= now.tm_hour * 60 + now.tm_min) {
    // Gone by today: tomorrow's.
    to_the_next_day(now, &wall);
    found.clear();
    told = instants(wall, &found);
    after = found.begin();
  }
  if (after != found.end()) {
    deadline->at = *after;
    deadline->text = deadline_text(wall, *after);
    return true;
  }
  *error = why_no_instant(text, wall, now, !found.empty(), told);
  return false;
}
