#include "upgrd_util/inputs/module_manifest.h"

#include <cctype>
#include <cstdio>
#include <memory>

#include "upgrd_util/platform/files.h"

namespace {

// Bounds of a manifest: far above the lines of a directory of modules, far
// below what could exhaust memory.
const size_t kMaxManifestBytes = 1 << 20;
const size_t kMaxManifestLine = 4 << 10;
const size_t kSha256Digits = 64;

std::string Lowercase(std::string text) {
  for (char& c : text)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

// Takes one line of sha256sum's: "<64 hex>  <name>" or "<64 hex> *<name>".
// Returns false when it is not one.
bool ParseLine(const std::string& line, std::string* sha256,
               std::string* name) {
  if (line.size() < kSha256Digits + 3)
    return false;
  for (size_t i = 0; i < kSha256Digits; ++i) {
    if (!isxdigit(static_cast<unsigned char>(line[i])))
      return false;
  }
  if (line[kSha256Digits] != ' ' ||
      (line[kSha256Digits + 1] != ' ' && line[kSha256Digits + 1] != '*'))
    return false;
  *sha256 = Lowercase(line.substr(0, kSha256Digits));
  *name = line.substr(kSha256Digits + 2);
  // `sha256sum ./kvn_hw02_zel_211.bin` names the file config.txt names.
  if (name->compare(0, 2, "./") == 0)
    name->erase(0, 2);
  return !name->empty();
}

}  // namespace

bool read_manifest(const std::string& path, Manifest* manifest,
                   std::string* error) {
  manifest->clear();
  FILE* file = open_regular_file(path.c_str());
  if (!file) {
    *error = "cannot read " + path + " (a regular file is needed)";
    return false;
  }
  std::string text;
  std::unique_ptr<char[]> piece(new char[64 << 10]);
  size_t got;
  while (text.size() <= kMaxManifestBytes &&
         (got = fread(piece.get(), 1, 64 << 10, file)) > 0)
    text.append(piece.get(), got);
  bool failed = ferror(file) != 0;
  fclose(file);
  if (failed) {
    *error = "cannot read " + path;
    return false;
  }
  if (text.size() > kMaxManifestBytes) {
    *error = path + " is larger than 1 MiB: no manifest of modules";
    return false;
  }
  int number = 1;
  for (size_t at = 0; at < text.size(); ++number) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    std::string where = path + ", line " + std::to_string(number) + ": ";
    if (line.size() > kMaxManifestLine) {
      *error = where + "longer than 4 KiB: not a line of sha256sum";
      return false;
    }
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.empty())
      continue;
    std::string sha256, name;
    if (!ParseLine(line, &sha256, &name)) {
      *error = where +
               "not a line of sha256sum (64 hex digits, two blanks or a "
               "blank and a *, the file name)";
      return false;
    }
    if (!manifest->emplace(name, sha256).second) {
      *error = where + name + " is listed a second time";
      return false;
    }
  }
  return true;
}

bool manifest_lists(const std::string& path, const Manifest& manifest,
                    const std::vector<ModuleDigest>& modules,
                    std::string* error) {
  for (const ModuleDigest& module : modules) {
    auto listed = manifest.find(module.name);
    if (listed == manifest.end()) {
      *error = module.name + " is not listed in " + path +
               "; its SHA-256 is " + module.sha256;
      return false;
    }
    if (listed->second != Lowercase(module.sha256)) {
      *error = module.name + " does not match " + path +
               ": its SHA-256 is " + module.sha256 + ", " + path +
               " lists " + listed->second;
      return false;
    }
  }
  return true;
}
