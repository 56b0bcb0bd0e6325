#ifndef UPGRD_UTIL_BASE_PROCESS_STATE_H_
#define UPGRD_UTIL_BASE_PROCESS_STATE_H_

// What the whole run shares, whatever card is being upgraded. Everything
// that belongs to one card travels with it instead (CardWork, CardState).

#include <cstdio>
#include <string>

/// The result log, open from start-up to nearly the end (output/result_log.h
/// writes it); nullptr while closed.
extern FILE* result_log;

/// Room for a module file name and its NUL.
const int kModuleNameSize = 28;

/// The module files of this run, named in config.txt; empty until it is read,
/// then never changed.
extern char zel_module_name[kModuleNameSize];
extern char app_module_name[kModuleNameSize];

/// Room for a SHA-256 as hex digits and its NUL.
const int kSha256HexSize = 65;

/// A campaign's SHA-256 of each module it may load (the interim patch only
/// when it is here), as lowercase hex; empty in the dialogue. Set before
/// any question, then never changed.
extern char zel_module_sha256[kSha256HexSize];
extern char app_module_sha256[kSha256HexSize];
extern char patch_module_sha256[kSha256HexSize];

/// Set when iplist.txt was found at start-up: the file holds passwords in
/// clear text, and the operator is reminded of it on the way out.
extern bool iplist_found;

/// A campaign's run id, the same in its report, its journal headers and its
/// summary ("20261207T093000-3fa2"); empty in the dialogue. Set before the
/// first card starts, then never changed.
extern char run_id[40];

/// The directory of a campaign's private copies of its modules, made as it
/// begins: each card is sent the copy, whose bytes are the ones hashed, so
/// that a module file replaced during the night changes nothing. Empty in
/// the dialogue, which sends the working directory's files as they are.
/// Set before the first card, then only read until the copies go.
extern std::string module_copies;

/// Whose history a campaign's records are: its site (--site, else the host
/// and the working directory) and the SHA-256 of iplist.txt's addresses;
/// empty in the dialogue. Set before the report is read, then never
/// changed.
extern std::string site_name;
extern char addresses_sha256[kSha256HexSize];

/// Who ran a campaign, for every record and its page: the login name of
/// the process's user, the host's name, the command line as given (its
/// words quoted as a shell would need them, nothing that could carry a
/// secret: see run/tool_options.h) and the tool's name and build. Empty in
/// the dialogue. Set as the campaign begins, before any check of its
/// inputs, then never changed.
extern std::string run_by_user;
extern std::string run_by_host;
extern std::string command_line;
extern std::string tool_version;

/// Back to the state at process start, the result log closed (for tests).
void reset_process_state();

#endif  // UPGRD_UTIL_BASE_PROCESS_STATE_H_
