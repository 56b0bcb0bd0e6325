#ifndef UPGRD_UTIL_BASE_CARD_PATH_H_
#define UPGRD_UTIL_BASE_CARD_PATH_H_

/// What a card needs, decided once from what it listed (card_path): the
/// campaign, the dry run and the plan all take it from there.
enum CardPath {
  PATH_UNKNOWN,            // not decided: its turn ended before its listing
  PATH_UNANSWERED,         // the plan's: it does not answer, and is retried
  PATH_HARDWARE_MISMATCH,  // its ZEL is for other hardware: nothing loaded
  PATH_ALREADY_CURRENT,    // it runs both configured modules: nothing loaded
  PATH_PATCH_MISSING,      // it needs the interim patch, which is not here
  PATH_APP_ONLY,           // it runs the configured ZEL: the APP alone
  PATH_BOTH,               // the ZEL, then the APP
  PATH_PATCH_FIRST,        // an early card: the interim patch, then both
};

/// Whether a card on `path` gets a module load.
inline bool path_loads(CardPath path) {
  return path == PATH_APP_ONLY || path == PATH_BOTH ||
         path == PATH_PATCH_FIRST;
}

#endif  // UPGRD_UTIL_BASE_CARD_PATH_H_
