#include "upgrd_util/card/firmware_version.h"

#include <cctype>
#include <cstring>

#include "upgrd_util/card/card_answer.h"
#include "upgrd_util/modules/module_version.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/ftp_library.h"

namespace {

// A module name is never this long; anything longer still compares unequal.
const size_t kMaxNameLength = 1024;

bool IsWhite(char c) {
  return isspace(static_cast<unsigned char>(c)) != 0;
}

// Appends the leading word of `text` to *word. Returns true when the word
// runs to the end of `text`, so that it may go on in the next piece.
bool TakeWord(const char* text, std::string* word) {
  const char* end = text;
  while (*end && !IsWhite(*end))
    ++end;
  size_t room = kMaxNameLength - std::min(word->size(), kMaxNameLength);
  word->append(text, std::min(static_cast<size_t>(end - text), room));
  return *end == '\0';
}

}  // namespace

bool scan_listing(FILE* listing, std::string* name) {
  char piece[80];
  name->clear();
  while (fgets(piece, sizeof(piece), listing)) {
    const char* text = piece;
    while (*text && IsWhite(*text))
      ++text;
    name->clear();
    bool word_goes_on = TakeWord(text, name);
    if (strncmp(piece, "kvn", 3) != 0)
      continue;
    // The name is taken whole, however long, so that a longer name can never
    // pass for the expected one.
    while (word_goes_on && fgets(piece, sizeof(piece), listing))
      word_goes_on = TakeWord(piece, name);
    return true;
  }
  return false;
}

bool listing_names(const char* listing_file, const char* name) {
  FILE* listing = fopen(listing_file, "r");
  if (!listing)
    return false;
  size_t length = strlen(name);
  char piece[1024];
  bool line_start = true;
  bool found = false;
  while (!found && fgets(piece, sizeof(piece), listing)) {
    const char* text = piece;
    while (line_start && *text && IsWhite(*text))
      ++text;
    // The word must end there, and not go on in the next piece.
    found = line_start && strncmp(text, name, length) == 0 &&
            (IsWhite(text[length]) || (!text[length] && feof(listing)));
    line_start = strchr(piece, '\n') != nullptr;
  }
  fclose(listing);
  return found;
}

bool listing_is_readable(const char* listing_file, std::string* why) {
  FILE* listing = fopen(listing_file, "rb");
  if (!listing) {
    *why = "it cannot be opened";
    return false;
  }
  char chunk[8192];
  size_t line = 0;  // bytes of the line so far
  size_t got;
  why->clear();
  while (why->empty() && (got = fread(chunk, 1, sizeof(chunk), listing)) > 0) {
    for (size_t at = 0; at < got && why->empty();) {
      const char* end =
          static_cast<const char*>(memchr(chunk + at, '\n', got - at));
      size_t length = (end ? static_cast<size_t>(end - chunk) : got) - at;
      line += length;
      if (memchr(chunk + at, '\0', length))
        *why = "it holds a NUL byte";
      else if (line > kMaxListingLine)
        *why = "a line of it is longer than " +
               std::to_string(kMaxListingLine) + " bytes";
      if (end)
        line = 0;
      at += length + 1;
    }
  }
  if (why->empty() && ferror(listing))
    *why = "it cannot be read";
  fclose(listing);
  return why->empty();
}

namespace {

// A reply that reports a failure (4xx or 5xx).
bool IsFailureReply(const char* reply) {
  return reply[0] == '4' || reply[0] == '5';
}

}  // namespace

int query_firmware_version(upgrade_target* target, int mode) {
  char reply[1000] = "";
  int& session = target->work.ftp_session;
  const char* listing_file = target->work.listing_file;
  bool strict = target->work.strict_card_words;
  session = ftp_login(target->ip, target->user_name, target->password, "");
  ftp_copyreplystr(session, reply, 200);
  if (session == -1) {
    log_printf("ERROR!!! Login unsuccessful.\n"
               "Make sure the Card is in the network.\n\n");
    log_flush();
    keep_card_answer(target, session);
    return VERSION_QUERY_FAILED;
  }
  int listed = ftp_ls(session, "", listing_file);
  if (listed == -1 && kept_local_fault(target, session)) {
    ftp_quit(session);
    return VERSION_LOCAL_ERROR;
  }
  ftp_copyreplystr(session, reply, 200);
  // A card that took the login and refuses for good (5xx) to list its
  // files will not show what it runs, however often it is asked; one that
  // refuses for now (4xx) fails the query as any lost listing does.
  if (strict && listed == -1 && reply[0] == '5') {
    log_printf("Listing refused.\n");
    log_flush();
    keep_card_answer(target, session);
    ftp_quit(session);
    return VERSION_LISTING_REFUSED;
  }
  FILE* listing = fopen(listing_file, "r");
  if (!listing) {
    log_printf("File foundfir.txt doesn't exist\n");
    log_flush();
    if (strict && listed == -1 && IsFailureReply(reply))
      keep_card_answer(target, session);
    ftp_quit(session);
    return VERSION_QUERY_FAILED;
  }
  std::string why;
  if (strict && !listing_is_readable(listing_file, &why)) {
    log_printf("The listing cannot be read: %s.\n", why.c_str());
    log_flush();
    fclose(listing);
    ftp_quit(session);
    return VERSION_LISTING_UNREADABLE;
  }
  std::string name;
  bool found = scan_listing(listing, &name);
  if (!found) {
    fclose(listing);
    ftp_quit(session);
    return VERSION_UNKNOWN;
  }
  log_printf("\n ***************************** \n");
  log_printf("Before Upgrading the VRN the ZEL is: %s\n",
             printable_text(name).c_str());
  if (target->state.zel_before.empty())
    target->state.zel_before = name;
  log_flush();
  fclose(listing);
  ftp_quit(session);

  int32_t version = module_version_number(name.c_str());
  if (mode == 1 && version < 211)
    return VERSION_BEFORE_211;
  if (mode != 0 && mode != 1)
    return VERSION_UNKNOWN;
  if (version > 202)
    return VERSION_CURRENT;
  if (version <= 200)
    return VERSION_EARLY;
  if (version == 202)
    return VERSION_AT_PATCH;
  return VERSION_UNKNOWN;
}

int verify_os_module(upgrade_target* target, const char* expected_name) {
  char reply[1000] = "";
  int& session = target->work.ftp_session;
  const char* listing_file = target->work.listing_file;
  bool strict = target->work.strict_card_words;
  session = ftp_login(target->ip, target->user_name, target->password, "");
  ftp_copyreplystr(session, reply, 200);
  if (session == -1) {
    log_printf("Login failed while checking if download completed "
               "successfully.\n");
    log_flush();
    keep_card_answer(target, session);
    return 0;
  }
  int listed = ftp_ls(session, "", listing_file);
  // A listing this workstation could not write says nothing of the load.
  if (listed == -1 && kept_local_fault(target, session)) {
    ftp_quit(session);
    return -1;
  }
  ftp_copyreplystr(session, reply, 200);
  // A card that refuses or drops one listing after its restart has failed
  // this load, not the run: the load is tried again like any failed one.
  if (listed == -1) {
    log_printf("File foundfir.txt doesn't exist\n");
    log_flush();
    if (strict && IsFailureReply(reply))
      keep_card_answer(target, session);
    ftp_quit(session);
    return 0;
  }
  FILE* listing = fopen(listing_file, "r");
  if (!listing) {
    // Something is wrong here, not on the card: the caller ends what it
    // runs, and quits the session still open.
    log_printf("File foundfir.txt doesn't exist\n");
    log_flush();
    return -1;
  }
  std::string why;
  if (strict && !listing_is_readable(listing_file, &why)) {
    log_printf("The listing cannot be read: %s.\n", why.c_str());
    log_flush();
    fclose(listing);
    return -1;
  }
  std::string name;
  scan_listing(listing, &name);
  log_printf("\nAfter the upgrade process has completed,\nlooking for ZEL: %s\n"
             "Found ZEL      : %s ",
             expected_name, printable_text(name).c_str());
  target->state.zel_after = name;
  log_flush();
  fclose(listing);
  ftp_quit(session);
  return name == expected_name ? 1 : 0;
}
