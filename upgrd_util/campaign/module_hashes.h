#ifndef UPGRD_UTIL_CAMPAIGN_MODULE_HASHES_H_
#define UPGRD_UTIL_CAMPAIGN_MODULE_HASHES_H_

#include <string>
#include <utility>
#include <vector>

/// A campaign's private copies of its module files, in a directory of its
/// own that only the user may write: each card is sent the copy, so that a
/// file replaced or cut short in the working directory during the night
/// changes nothing, and the hashes in the records are those of the bytes
/// sent. The copies and their directory go with the object (and the copies
/// at an interrupt that ends the process).
class ModuleCopies {
 public:
  ModuleCopies() = default;
  ~ModuleCopies();

  /// Copies the working directory's module `name` (the directory is made
  /// with the first), with the SHA-256 of the bytes copied in *hex.
  /// Returns false, with the reason in *error, else.
  bool Add(const char* name, std::string* hex, std::string* error);

  /// Where the copies are.
  const std::string& directory() const { return directory_; }

 private:
  ModuleCopies(const ModuleCopies&) = delete;
  ModuleCopies& operator=(const ModuleCopies&) = delete;

  std::string directory_;
  std::vector<std::pair<std::string, int>> files_;  // each with its slot
};

/// Once config.txt is read, before any question: copies each module file
/// the campaign may load into *copies and hashes the bytes copied, each
/// once for the run: the ZEL and APP of config.txt, and the interim patch
/// when it is here (without it no card loads one). Keeps each SHA-256 for
/// the report and the page, and the copies' directory for the cards
/// (process_state.h). With a `manifest` (--manifest FILE) every one of them
/// must be listed there with that SHA-256. Returns false, having said why in
/// one line on standard error, otherwise.
bool check_module_hashes(const std::string& manifest, ModuleCopies* copies);

#endif  // UPGRD_UTIL_CAMPAIGN_MODULE_HASHES_H_
