#include "upgrd_util/platform/sha256.h"

#include <windows.h>
#include <bcrypt.h>

// The system's own hash (CNG, Windows Vista and later): nothing to ship
// beside the tool.
struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool good = false;
};

Sha256::Sha256() : state_(new State) {
  state_->good =
      BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(
          &state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
      BCRYPT_SUCCESS(BCryptCreateHash(state_->algorithm, &state_->hash,
                                      nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() {
  if (state_->hash)
    BCryptDestroyHash(state_->hash);
  if (state_->algorithm)
    BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

bool Sha256::Update(const void* data, size_t size) {
  // BCryptHashData takes at most a ULONG's worth at a time.
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  while (state_->good && size > 0) {
    ULONG part = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    state_->good = BCRYPT_SUCCESS(BCryptHashData(
        state_->hash, const_cast<PUCHAR>(bytes), part, 0));
    bytes += part;
    size -= part;
  }
  return state_->good;
}

bool Sha256::Digest(unsigned char digest[32], std::string* error) {
  if (!state_->good ||
      !BCRYPT_SUCCESS(BCryptFinishHash(state_->hash, digest, 32, 0))) {
    state_->good = false;
    *error = "the system could not compute its SHA-256";
    return false;
  }
  // A finished hash takes nothing more.
  state_->good = false;
  return true;
}
