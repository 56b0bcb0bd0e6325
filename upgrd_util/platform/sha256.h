#ifndef UPGRD_UTIL_PLATFORM_SHA256_H_
#define UPGRD_UTIL_PLATFORM_SHA256_H_

#include <cstddef>
#include <memory>
#include <string>

/// SHA-256 over bytes given piece by piece: the system's (libcrypto's EVP on
/// POSIX, CNG's BCrypt on Windows), so that no hash of our own is trusted
/// with what a card is given.
class Sha256 {
 public:
  Sha256();
  ~Sha256();

  /// Takes the next `size` bytes. Returns false when the system refused
  /// them (or could not start the hash); Final then fails too.
  bool Update(const void* data, size_t size);

  /// The digest of everything taken, as 64 lowercase hex digits in *hex.
  /// Returns false, with the reason in *error, when the system failed.
  bool Final(std::string* hex, std::string* error);

 private:
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // The system's part of Final: the 32 bytes of the digest.
  bool Digest(unsigned char digest[32], std::string* error);

  struct State;
  std::unique_ptr<State> state_;
};

/// The SHA-256 of the regular file at `path` (never a FIFO or device),
/// read in pieces of a bounded buffer, as 64 lowercase hex digits in *hex.
/// Returns false, with the reason in *error, when it cannot be read.
bool sha256_file(const std::string& path, std::string* hex,
                 std::string* error);

/// Copies the regular file `from` to `to`, a new file (never one that is
/// there, nor through a link; no copy when `to` is empty), and gives the SHA-256 of the bytes copied in
/// *hex, as sha256_file does: what is hashed is what the copy holds.
/// Returns false, with the reason in *error, when either fails; a copy
/// begun is then removed.
bool sha256_copy(const std::string& from, const std::string& to,
                 std::string* hex, std::string* error);

#endif  // UPGRD_UTIL_PLATFORM_SHA256_H_
