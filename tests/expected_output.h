#ifndef UPGRD_TESTS_EXPECTED_OUTPUT_H_
#define UPGRD_TESTS_EXPECTED_OUTPUT_H_

// What the tool writes to the console and the result log, built once for the
// unit tests and the end-to-end runs alike, so that both expect the same
// bytes.

#include <cstddef>
#include <string>

// ---- The spinner and the probe ----------------------------------------

/// Each mark as drawn: two backspaces, a blank and the mark.
std::string Marks(const std::string& marks);
extern const char kMarkAnswered[];  // the mark blanked after 20 replies
extern const char kMarkBlanked[];   // after a failed probe or any wait

/// A probe of a card that answers every request: 20 times the first mark.
std::string ProbeAnswered();
/// A probe that got no reply to any of its `requests`.
std::string ProbeSilent(int requests);
/// What wait_with_spinner(seconds) draws: four marks a second, then blanks.
std::string Spin(int seconds);

// ---- Start, end and the card entered at the console --------------------

/// The header of every result log the tool on the fast clock writes.
extern const char kFastLogHeader[];
extern const char kBannerRule[];

/// The start-up banner after `header`: each module's column is its name,
/// blanks and its dotted version.
std::string Banner(const std::string& zel_column, const std::string& app_column,
                   const std::string& header = kFastLogHeader);
/// The banner for the 211 modules "VRN OS" and "VRN APP" on the fast clock.
std::string Banner();

/// The menu offered for a list of `count` cards.
std::string Menu(int count);

extern const char kListWarning[];  // when iplist.txt exists
extern const char kClosing[];

extern const char kClearTextWarning[];  // before the first entry only
extern const char kEntryStars[];        // where every entry starts
extern const char kIpPrompt[];
extern const char kUserPrompt[];
extern const char kPasswordPrompt[];
/// How the entry of a card at the console starts.
std::string EntryStart();
/// The values shown back and the first menu.
std::string Shown(const std::string& ip, const std::string& user,
                  const std::string& password);
/// One whole entry up to the first menu's prompt (the fake FTP's card by
/// default).
std::string Entry(const std::string& ip = "127.0.0.2",
                  const std::string& user = "user",
                  const std::string& password = "pass");
/// The warning for a card entered at the console that runs a ZEL below 211.
extern const char kEntryXpWarning[];

// ---- Loading a module ----------------------------------------------------

extern const char kLogInLabel[];
extern const char kLoadingOs[];
extern const char kLoadingApp[];
extern const char kVerifyLabel[];
extern const char kZelWait60[];
extern const char kZelWait180[];
extern const char kPatchWait[];
extern const char kPatchWaitLog[];
extern const char kAppWait30[];  // its text says 60 seconds
extern const char kAppWait30Log[];
extern const char kAppWait210[];
extern const char kAppWait210Log[];

/// The console of a ZEL or APP load up to the probe after its wait.
std::string ZelToProbe(const std::string& wait_line, int seconds);
std::string AppToProbe(const std::string& wait_line, int seconds);
/// The log of the same.
std::string LogZelToProbe(const std::string& wait_log = "",
                          const std::string& ip = "127.0.0.1");
std::string LogAppToProbe(const std::string& wait_log);

/// The log lines of a version query that found `zel`.
std::string LogBefore(const std::string& zel);
/// The log of a load's verification, up to the verdict the caller adds.
std::string LogAfter(const std::string& expected, const std::string& found);

// ---- Module files ---------------------------------------------------------

/// A module of `size` bytes: a 256-byte header with `version` at 42 and
/// `name` at 91, then `body` bytes (a shorter one is the header cut).
std::string Module(const std::string& version, const std::string& name,
                   size_t size = 256, char body = '\x5a');

#endif  // UPGRD_TESTS_EXPECTED_OUTPUT_H_
