#include <sodium.h>

#include "trust/sha256_hex.h"

struct Sha256Stream::State {
  crypto_hash_sha256_state sodium;
};

static_assert(crypto_hash_sha256_BYTES == 32, "a SHA-256 digest is 32 bytes");

Sha256Stream::Sha256Stream() : state_(std::make_unique<State>()) { crypto_hash_sha256_init(&state_->sodium); }

Sha256Stream::~Sha256Stream() = default;

void Sha256Stream::update(const void* data, std::size_t size) {
  crypto_hash_sha256_update(&state_->sodium, static_cast<const unsigned char*>(data), size);
}

void Sha256Stream::finish(unsigned char (&digest)[kDigestBytes]) { crypto_hash_sha256_final(&state_->sodium, digest); }
