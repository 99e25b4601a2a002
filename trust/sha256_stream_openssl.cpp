#include <openssl/evp.h>

#include <new>

#include "trust/sha256_hex.h"

struct Sha256Stream::State {
  EVP_MD_CTX* context = nullptr;
};

Sha256Stream::Sha256Stream() : state_(std::make_unique<State>()) {
  state_->context = EVP_MD_CTX_new();
  if (state_->context == nullptr || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(state_->context);
    throw std::bad_alloc();
  }
}

Sha256Stream::~Sha256Stream() { EVP_MD_CTX_free(state_->context); }

void Sha256Stream::update(const void* data, std::size_t size) { EVP_DigestUpdate(state_->context, data, size); }

void Sha256Stream::finish(unsigned char (&digest)[kDigestBytes]) {
  unsigned int length = 0;
  EVP_DigestFinal_ex(state_->context, digest, &length);
}
