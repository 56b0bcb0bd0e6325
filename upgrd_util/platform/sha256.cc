#include "upgrd_util/platform/sha256.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "upgrd_util/platform/files.h"

bool Sha256::Final(std::string* hex, std::string* error) {
  unsigned char digest[32];
  if (!Digest(digest, error))
    return false;
  static const char kDigits[] = "0123456789abcdef";
  hex->clear();
  for (unsigned char byte : digest) {
    *hex += kDigits[byte >> 4];
    *hex += kDigits[byte & 15];
  }
  return true;
}

bool sha256_file(const std::string& path, std::string* hex,
                 std::string* error) {
  return sha256_copy(path, "", hex, error);
}

bool sha256_copy(const std::string& from, const std::string& to,
                 std::string* hex, std::string* error) {
  FILE* in = open_regular_file(from.c_str());
  if (!in) {
    *error = "cannot read " + from + " (a regular file is needed)";
    return false;
  }
  FILE* out = nullptr;
  if (!to.empty()) {
    std::string reason;
    out = create_new_file(to.c_str(), &reason);
    if (!out) {
      fclose(in);
      *error = "cannot copy " + from + " to " + to + ": " + reason;
      return false;
    }
  }
  Sha256 hash;
  // A module may be large: it goes through one buffer, never whole.
  static const size_t kPiece = 64 << 10;
  std::unique_ptr<unsigned char[]> piece(new unsigned char[kPiece]);
  size_t got;
  bool taken = true;
  bool written = true;
  while (taken && written && (got = fread(piece.get(), 1, kPiece, in)) > 0) {
    taken = hash.Update(piece.get(), got);
    written = !out || fwrite(piece.get(), 1, got, out) == got;
  }
  bool read = ferror(in) == 0;
  fclose(in);
  if (out)
    written = fclose(out) == 0 && written;
  if (!read || !written) {
    if (out)
      remove(to.c_str());
    *error = !read ? "cannot read " + from
                   : "cannot copy " + from + " to " + to + ": " +
                         strerror(errno);
    return false;
  }
  if (!hash.Final(hex, error)) {
    if (out)
      remove(to.c_str());
    *error = from + ": " + *error;
    return false;
  }
  return true;
}
