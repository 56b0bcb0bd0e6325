#include "upgrd_util/platform/sha256.h"

#include <openssl/evp.h>

#include <cstring>

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
  bool good = false;
};

Sha256::Sha256() : state_(new State) {
  state_->context = EVP_MD_CTX_new();
  state_->good = state_->context &&
                 EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() {
  EVP_MD_CTX_free(state_->context);
}

bool Sha256::Update(const void* data, size_t size) {
  state_->good = state_->good &&
                 EVP_DigestUpdate(state_->context, data, size) == 1;
  return state_->good;
}

bool Sha256::Digest(unsigned char digest[32], std::string* error) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!state_->good ||
      EVP_DigestFinal_ex(state_->context, out, &length) != 1 || length != 32) {
    state_->good = false;
    *error = "libcrypto could not compute its SHA-256";
    return false;
  }
  // A finished hash takes nothing more.
  state_->good = false;
  memcpy(digest, out, 32);
  return true;
}
