// SHA-256 and HMAC-SHA-256 (FIPS 180-4, RFC 2104): the fleet record keeps a keyed fingerprint of
// each secret it is told of, never the secret. Written here because none of the libraries the
// project builds on computes them (glibc has no such function, and a Windows-only one would make
// the fingerprints depend on the platform's code).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

using Sha256Digest = std::array<uint8_t, 32>;

/// SHA-256 of bytes given a piece at a time.
class Sha256 {
  public:
    Sha256();
    void Update(const void* data, size_t size);
    void Update(const std::string& bytes) { Update(bytes.data(), bytes.size()); }
    /// The digest of everything given; the object is not to be used afterwards.
    Sha256Digest Final();

  private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> m_state;
    std::array<uint8_t, 64> m_buffer{};
    size_t m_buffered = 0;
    uint64_t m_length = 0;  // bytes given so far
};

/// SHA-256 of `bytes`.
Sha256Digest Sha256Of(const std::string& bytes);

/// HMAC-SHA-256 of `message` under `key` (any length).
Sha256Digest HmacSha256(const std::string& key, const std::string& message);
