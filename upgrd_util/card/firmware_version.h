#ifndef UPGRD_UTIL_CARD_FIRMWARE_VERSION_H_
#define UPGRD_UTIL_CARD_FIRMWARE_VERSION_H_

#include <cstdio>
#include <string>

#include "upgrd_util/base/upgrade_target.h"

/// What the version query found on a card.
enum version_class {
  VERSION_UNKNOWN = -2,    // no module entry, or a version no path fits (201)
  VERSION_QUERY_FAILED = 0,
  VERSION_CURRENT = 1,     // mode 0: above 202; mode 1: 211 or above
  VERSION_EARLY = 2,       // mode 0: 200 or below
  VERSION_AT_PATCH = 3,    // mode 0: exactly the interim patch, 202
  VERSION_BEFORE_211 = 4,  // mode 1: below 211
  // With the card's strict words (a campaign's) only:
  VERSION_LISTING_REFUSED = 5,     // the listing was refused (5xx)
  VERSION_LISTING_UNREADABLE = 6,  // listing_is_readable said no
  // The listing file could not be written on the workstation
  // (STATUS_LOCAL_ERROR recorded): nothing is known of the card.
  VERSION_LOCAL_ERROR = 7,
};

/// The longest line a listing read strictly may hold: far more than any
/// file name of a card.
const size_t kMaxListingLine = 1024;

/// Reads the card's ZEL module from its listing (the first name beginning
/// with "kvn") and classifies its version: mode 0 for the upgrade sequence,
/// mode 1 for the question "below 211?". Returns a version_class. With the
/// card's strict words, a failed login or listing keeps the card's answer,
/// a listing refused after the login gives VERSION_LISTING_REFUSED and one
/// that is not readable VERSION_LISTING_UNREADABLE. A listing file that
/// the workstation could not write gives VERSION_LOCAL_ERROR.
int query_firmware_version(upgrade_target* target, int mode);

/// Returns 1 when the card's listing names exactly `expected_name` as its
/// ZEL module, else 0 (also when the login or the listing request failed).
/// Returns -1 when a listing was fetched and yet cannot be read back (with
/// the card's strict words, also when it is not readable); its session is
/// then left open in the card's state. Returns -1 too, with
/// STATUS_LOCAL_ERROR recorded and the session quit, when the listing file
/// could not be written on the workstation: the card is not to blame, nor
/// loaded again.
int verify_os_module(upgrade_target* target, const char* expected_name);

/// True when the listing file can be read line by line: it holds no NUL
/// byte (read as text, a line would end there and seem to go on in the
/// next one) and no line longer than kMaxListingLine bytes. Otherwise
/// false, with why in *why.
bool listing_is_readable(const char* listing_file, std::string* why);

/// True when a line of the listing file begins with the word `name`.
bool listing_names(const char* listing_file, const char* name);

/// Scans a listing read in pieces of up to 79 characters. Returns true with
/// the whole first word of the first piece that begins with "kvn"; otherwise
/// false with the first word of the last piece (empty for none).
bool scan_listing(FILE* listing, std::string* name);

#endif  // UPGRD_UTIL_CARD_FIRMWARE_VERSION_H_
