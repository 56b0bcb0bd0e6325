#include "upgrd_util/output/campaign_view.h"

#include <ctime>

#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/platform.h"

namespace {

// Days from 1970-01-01 to the given date of the proleptic Gregorian
// calendar (month 1 to 12).
long long DaysFromCivil(long long year, unsigned month, unsigned day) {
  year -= month <= 2;
  long long era = (year >= 0 ? year : year - 399) / 400;
  unsigned year_of_era = static_cast<unsigned>(year - era * 400);
  unsigned day_of_year =
      (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  unsigned day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<long long>(day_of_era) - 719468;
}

}  // namespace

std::string shown_utf8(std::string_view text) {
  return readable_text(text);
}

double unix_time_now() {
  struct tm now = {};
  if (!platform().clock->LocalTime(&now))
    return 0;
  long long days = DaysFromCivil(now.tm_year + 1900LL,
                                 static_cast<unsigned>(now.tm_mon + 1),
                                 static_cast<unsigned>(now.tm_mday));
  return static_cast<double>(days * 86400 + now.tm_hour * 3600 +
                             now.tm_min * 60 + now.tm_sec -
                             platform().clock->UtcOffsetSeconds());
}
