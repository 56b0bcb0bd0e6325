#include "upgrd_util/run/start_menu.h"

#include <string>

#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/platform.h"

namespace {

// The first character of the operator's answer; kMenuInputEnded at the end
// of the console input, since nobody is left to answer.
int ReadMenuAnswer() {
  std::string line;
  if (!platform().console->ReadLine(&line))
    return kMenuInputEnded;
  return static_cast<unsigned char>(line[0]);
}

}  // namespace

int ask_start_menu(int count) {
  for (;;) {
    log_printf("Found %i upgrade configuration(s)\n\n", count);
    log_flush();
    console_printf("\tConfiguration detected ( iplist.txt ).\n");
    console_printf("\tFound %i upgrade configuration(s)\n\n", count);
    console_printf("\t1: Use parameters in configuration file  \n");
    console_printf("\t2: Enter parameters for single upgrade\n");
    console_printf("\t3: Exit Firmware upgrade tool\n");
    console_printf("\tAction: ");
    int answer = ReadMenuAnswer();
    if (answer == '1') {
      console_printf("\t**************************************************************\n");
      console_printf("\tWarning: There is a known issue with Windows XP when\n");
      console_printf("\tupgrading devices running pre kvn_hw02_zel_211.bin "
                     "firmware.\n");
      console_printf("\tIf you are running Windows XP you should stop this "
                     "upgrade and\n");
      console_printf("\trun it from a pre-XP Windows machine.\n\n");
      console_printf("\t1: Continue with upgrade\n");
      console_printf("\t2: Enter parameters for single upgrade\n");
      console_printf("\t3: Exit Firmware upgrade tool\n");
      console_printf("\tAction: ");
      answer = ReadMenuAnswer();
    }
    if (answer == '1' || answer == '2' || answer == '3' ||
        answer == kMenuInputEnded)
      return answer;
    console_printf("\t ** Input not understood, please try again **\n");
  }
}
