#include "upgrd_util/campaign/wave_question.h"

#include <string>

#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/platform.h"

bool WaveQuestion::Ask(int number, int waves, size_t size) {
  if (!ask_)
    return true;
  printer_->Say("\tStart wave %d of %d (%d cards)?\n\t1: Go on\n\t3: "
                "Stop\n",
                number, waves, static_cast<int>(size));
  printer_->Show(true);
  console_printf("\tAction: ");
  std::string answer;
  return platform().console->ReadLine(&answer) && answer[0] == '1';
}
