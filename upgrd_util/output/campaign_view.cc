#include "upgrd_util/output/campaign_view.h"

#include <ctime>

#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/platform.h"

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence at text[i] whose first byte
// is not ASCII, or 0 when there is none.
size_t SequenceLength(std::string_view text, size_t i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  size_t length = c >= 0xC2 && c <= 0xDF   ? 2
                  : c >= 0xE0 && c <= 0xEF ? 3
                  : c >= 0xF0 && c <= 0xF4 ? 4
                                           : 0;
  if (length == 0 || i + length > text.size())
    return 0;
  unsigned char second = static_cast<unsigned char>(text[i + 1]);
  // The second byte's range rules out overlong forms, surrogates and code
  // points above U+10FFFF.
  unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
  unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
  if (second < low || second > high)
    return 0;
  for (size_t k = 2; k < length; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
      return 0;
  }
  return length;
}

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
  std::string shown;
  shown.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      bool control = (c < 0x20 && c != '\t' && c != '\n') || c == 0x7F;
      shown += control ? '?' : text[i];
      ++i;
      continue;
    }
    size_t length = SequenceLength(text, i);
    // C1 controls (U+0080 to U+009F) are controls too.
    if (length == 2 && c == 0xC2 &&
        static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      shown += '?';
    } else if (length == 0) {
      shown += kReplacement;
      length = 1;
    } else {
      shown.append(text, i, length);
    }
    i += length;
  }
  return shown;
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
