#include "upgrd_util/inputs/single_target.h"

#include <string>

#include "upgrd_util/card/firmware_version.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/platform.h"

namespace {

// Reads one answer into *line. Returns false at the end of the console
// input: nobody is left to answer.
bool ReadAnswer(std::string* line) {
  return platform().console->ReadLine(line);
}

// Asks with `prompt` until the answer fits the field; a value is never cut.
// Returns false at the end of the console input.
bool AskValue(const char* prompt, int limit,
              bool (*store)(upgrade_target*, std::string_view),
              upgrade_target* target) {
  std::string answer;
  for (;;) {
    console_printf("%s", prompt);
    if (!ReadAnswer(&answer))
      return false;
    if (store(target, answer))
      return true;
    console_printf("\tToo long: at most %d characters. Please enter it "
                   "again.\n",
                   limit);
  }
}

}  // namespace

upgrade_target* enter_single_target(EntryEnd* end) {
  upgrade_target* record = nullptr;
  append_upgrade_target(&record);
  // Every way out but a confirmed card ends the run.
  *end = ENTRY_FINISH;
  std::string answer;
  console_printf("\n\t*************************************************************\n");
  console_printf("\tWarning: User name and password information will be "
                 "displayed\n");
  console_printf("\tto the screen in clear text.\n");
  for (;;) {
    console_printf("\t*************************************************************\n\n");
    if (!AskValue("\n\tIP Address of target to upgrade: ", 25, set_target_ip,
                  record) ||
        !AskValue("\tUser Name: ", 10, set_target_user_name, record) ||
        !AskValue("\tPassword: ", 10, set_target_password, record))
      break;
    console_printf("\n\n");
    console_printf("\tYou have entered:\n");
    console_printf("\tIP Address: %s\n", record->ip);
    console_printf("\tUsername:   %s\n", record->user_name);
    console_printf("\tPassword:   %s\n\n", record->password);
    console_printf("\t1: Continue with upgrade\n");
    console_printf("\t2: Re-enter parameters\n");
    console_printf("\t3: Quit\n");
    console_printf("\tAction: ");
    if (!ReadAnswer(&answer))
      break;
    if (answer[0] == '3' || answer[0] == 'q') {
      *end = ENTRY_QUIT;
      break;
    }
    console_printf("\n\n");
    if (answer[0] != '1' && answer[0] != 'y')
      continue;
    if (query_firmware_version(record, 1) != VERSION_BEFORE_211) {
      *end = ENTRY_CONFIRMED;
      return record;
    }

    console_printf("\t**************************************************************\n");
    console_printf("\tWarning: There is a known issue with Windows XP when "
                   "upgrading\n");
    console_printf("\tfrom devices running pre kvn_hw02_zel_211.bin "
                   "firmware.\n");
    console_printf("\tIf you are running Windows XP you should stop this "
                   "upgrade and\n");
    console_printf("\trun it from a pre-XP Windows machine.\n\n");
    console_printf("\t1: Continue with upgrade\n");
    console_printf("\t2: Re-enter parameters\n");
    console_printf("\t3: Exit Firmware upgrade tool\n");
    console_printf("\tAction: ");
    if (!ReadAnswer(&answer) || answer[0] == '3' || answer[0] == 'q')
      break;
    console_printf("\n\n");
    if (answer[0] == '1' || answer[0] == 'c') {
      *end = ENTRY_CONFIRMED;
      return record;
    }
    if (answer[0] == '2' || answer[0] == 'e')
      console_printf("\n\n");
  }
  free_upgrade_targets(record);
  return nullptr;
}
