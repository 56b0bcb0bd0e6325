#ifndef UPGRD_UTIL_INPUTS_MODULE_MANIFEST_H_
#define UPGRD_UTIL_INPUTS_MODULE_MANIFEST_H_

#include <map>
#include <string>
#include <vector>

/// A module file of the run, by its name as config.txt gives it, and the
/// SHA-256 of what it holds (lowercase hex).
struct ModuleDigest {
  std::string name;
  std::string sha256;
};

/// The file names of a manifest and the SHA-256 each is listed with.
using Manifest = std::map<std::string, std::string>;

/// Reads the manifest at `path` (--manifest), as `sha256sum FILE...` writes
/// it: a line per file, 64 hex digits, two blanks (or a blank and a "*",
/// its binary mode), the file name. A name may start with "./", which is
/// left out: names are then matched exactly as config.txt gives them. A CR
/// before a line end and empty lines are taken too. Only a regular file of
/// at most 1 MiB with lines of at most 4 KiB is read (never a FIFO, which
/// could block). Returns false, with one line naming the file (and its
/// line) in *error, when it cannot be read, or a line is not one of
/// sha256sum, or names a file twice.
bool read_manifest(const std::string& path, Manifest* manifest,
                   std::string* error);

/// True when `manifest` lists each of `modules` with its SHA-256 (hex
/// digits of either case). Otherwise false, with one line in *error that
/// names the first module that is not listed (and its SHA-256) or does not
/// match (and both SHA-256s), and the manifest's `path`.
bool manifest_lists(const std::string& path, const Manifest& manifest,
                    const std::vector<ModuleDigest>& modules,
                    std::string* error);

#endif  // UPGRD_UTIL_INPUTS_MODULE_MANIFEST_H_
