#include "upgrd_util/inputs/single_target.h"

#include <cstdlib>
#include <string>

#include "upgrd_util/card/firmware_version.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/base/upgrade_end.h"

namespace {

// Reads one answer; the end of the console input ends the tool, since
// nobody is left to answer.
std::string ReadAnswer() {
  std::string line;
  if (!platform().console->ReadLine(&line))
    finish_and_exit();
  return line;
}

// Asks with `prompt` until the answer fits the field; a value is never cut.
void AskValue(const char* prompt, int limit,
              bool (*store)(upgrade_target*, std::string_view),
              upgrade_target* target) {
  for (;;) {
    console_printf("%s", prompt);
    if (store(target, ReadAnswer()))
      return;
    console_printf("\tToo long: at most %d characters. Please enter it "
                   "again.\n",
                   limit);
  }
}

}  // namespace

upgrade_target* enter_single_target() {
  upgrade_target* record = nullptr;
  append_upgrade_target(&record);
  console_printf("\n\t*************************************************************\n");
  console_printf("\tWarning: User name and password information will be "
                 "displayed\n");
  console_printf("\tto the screen in clear text.\n");
  for (;;) {
    console_printf("\t*************************************************************\n\n");
    AskValue("\n\tIP Address of target to upgrade: ", 25, set_target_ip,
             record);
    AskValue("\tUser Name: ", 10, set_target_user_name, record);
    AskValue("\tPassword: ", 10, set_target_password, record);
    console_printf("\n\n");
    console_printf("\tYou have entered:\n");
    console_printf("\tIP Address: %s\n", record->ip);
    console_printf("\tUsername:   %s\n", record->user_name);
    console_printf("\tPassword:   %s\n\n", record->password);
    console_printf("\t1: Continue with upgrade\n");
    console_printf("\t2: Re-enter parameters\n");
    console_printf("\t3: Quit\n");
    console_printf("\tAction: ");
    char answer = ReadAnswer()[0];
    if (answer == '3' || answer == 'q')
      exit(1);
    console_printf("\n\n");
    if (answer != '1' && answer != 'y')
      continue;
    if (query_firmware_version(record, 1) != VERSION_BEFORE_211)
      return record;

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
    answer = ReadAnswer()[0];
    if (answer == '3' || answer == 'q')
      finish_and_exit();
    console_printf("\n\n");
    if (answer == '1' || answer == 'c')
      return record;
    if (answer == '2' || answer == 'e')
      console_printf("\n\n");
  }
}
