#ifndef UPGRD_UTIL_INPUTS_FIRMWARE_SELECTION_H_
#define UPGRD_UTIL_INPUTS_FIRMWARE_SELECTION_H_

#include "upgrd_util/base/process_state.h"

/// Reads the ZEL name from line 1 ("ZEL = name") and the APP name from line 2
/// ("APP = name") of config.txt into the two buffers (kModuleNameSize bytes
/// each) and logs both lines. Returns quietly, leaving a name empty, when its
/// line is missing, malformed or names a file too long for the buffer.
/// Returns false, having said so on the console, when config.txt cannot be
/// opened: the run ends then.
bool read_firmware_selection(char* zel_name, char* app_name);

#endif  // UPGRD_UTIL_INPUTS_FIRMWARE_SELECTION_H_
