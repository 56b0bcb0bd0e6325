#include "upgrd_util/card/firmware_version.h"

#include <cctype>
#include <cstring>

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

int query_firmware_version(upgrade_target* target, int mode) {
  char reply[1000];
  int& session = target->state.ftp_session;
  const char* listing_file = target->state.listing_file;
  session = ftp_login(target->ip, target->user_name, target->password, "");
  ftp_copyreplystr(session, reply, 200);
  if (session == -1) {
    log_printf("ERROR!!! Login unsuccessful.\n"
               "Make sure the Card is in the network.\n\n");
    log_flush();
    return VERSION_QUERY_FAILED;
  }
  ftp_ls(session, "", listing_file);
  ftp_copyreplystr(session, reply, 200);
  FILE* listing = fopen(listing_file, "r");
  if (!listing) {
    log_printf("File foundfir.txt doesn't exist\n");
    log_flush();
    ftp_quit(session);
    return VERSION_QUERY_FAILED;
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
  char reply[1000];
  int& session = target->state.ftp_session;
  const char* listing_file = target->state.listing_file;
  session = ftp_login(target->ip, target->user_name, target->password, "");
  ftp_copyreplystr(session, reply, 200);
  if (session == -1) {
    log_printf("Login failed while checking if download completed "
               "successfully.\n");
    log_flush();
    return 0;
  }
  int listed = ftp_ls(session, "", listing_file);
  ftp_copyreplystr(session, reply, 200);
  // A card that refuses or drops one listing after its restart has failed
  // this load, not the run: the load is tried again like any failed one.
  if (listed == -1) {
    log_printf("File foundfir.txt doesn't exist\n");
    log_flush();
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
