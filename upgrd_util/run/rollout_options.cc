#include "upgrd_util/run/rollout_options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

bool wave_sizes(const std::string& text, size_t cards,
                std::vector<size_t>* sizes, std::string* error) {
  size_t placed = 0;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find(',', at);
    if (end == std::string::npos)
      end = text.size();
    std::string part = text.substr(at, end - at);
    at = end + 1;
    bool percent = !part.empty() && part.back() == '%';
    if (percent)
      part.pop_back();
    char* rest = nullptr;
    double value = part.empty() ? 0 : strtod(part.c_str(), &rest);
    if (part.empty() || *rest || value <= 0 || (percent && value > 100) ||
        (!percent && value != std::floor(value))) {
      *error = "a wave is a whole count or a percentage up to 100%: " + text;
      return false;
    }
    size_t size = percent ? static_cast<size_t>(std::ceil(value * cards / 100))
                          : static_cast<size_t>(value);
    size = std::max<size_t>(size, 1);
    if (placed < cards) {
      size = std::min(size, cards - placed);
      sizes->push_back(size);
      placed += size;
    }
  }
  if (placed < cards)
    sizes->push_back(cards - placed);
  return true;
}

bool failure_rate(const std::string& text, double* percent,
                  std::string* error) {
  std::string number = text;
  if (!number.empty() && number.back() == '%')
    number.pop_back();
  char* rest = nullptr;
  *percent = number.empty() ? -1 : strtod(number.c_str(), &rest);
  if (number.empty() || *rest || *percent < 0 || *percent > 100) {
    *error = text + " is not a percentage from 0% to 100%";
    return false;
  }
  return true;
}

bool seconds_until(const std::string& text, const struct tm& now,
                   double* seconds, std::string* error) {
  struct tm when = now;
  int year, month, day, hour, minute, second = 0;
  char end;
  bool today = sscanf(text.c_str(), "%2d:%2d%c", &hour, &minute, &end) == 2 &&
               text.size() == 5;
  bool dated =
      !today && (sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &year,
                        &month, &day, &hour, &minute, &second, &end) == 6 ||
                 (sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d%c", &year, &month,
                         &day, &hour, &minute, &end) == 5 &&
                  text.size() == 16));
  if ((!today && !dated) || hour > 23 || minute > 59 || second > 59) {
    *error = text + " is no time: HH:MM, or YYYY-MM-DDTHH:MM";
    return false;
  }
  if (dated) {
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
  }
  when.tm_hour = hour;
  when.tm_min = minute;
  when.tm_sec = second;
  when.tm_isdst = -1;
  struct tm start = now;
  start.tm_isdst = -1;
  double left = difftime(mktime(&when), mktime(&start));
  if (today && left <= 0)
    left += 24 * 60 * 60;  // the next such time is tomorrow's
  if (left <= 0) {
    *error = text + " has passed";
    return false;
  }
  *seconds = left;
  return true;
}
