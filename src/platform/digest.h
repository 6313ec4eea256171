// Message digests (MD5, SHA-1, SHA-256) from the cryptography the build carries:
// OpenSSL's libcrypto on POSIX, the system's CNG (BCrypt) on Windows. No digest
// code is written here. One state per kind is kept for the whole run, so a file
// costs no allocation of ours.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

enum class digest_kind { md5, sha1, sha256 };
inline constexpr std::size_t k_digest_kinds = 3;

// A finished digest: `size` bytes (16, 20 or 32).
struct digest_value {
  std::array<unsigned char, 32> bytes{};
  std::size_t size = 0;
};

struct digest_state;  // the run's one state of a kind

// Starts a digest of `kind` over new bytes; null when the library cannot give one.
digest_state* digest_start(digest_kind kind);
// Adds `size` bytes; false when the library fails (the digest is then of no use).
bool digest_add(digest_state* state, const void* bytes, std::size_t size);
// Finishes the digest into `out`; false on failure. The state may be started again.
bool digest_finish(digest_state* state, digest_value& out);
// Whose digest code the build carries and under which conditions it is passed on.
std::string_view digest_code_notice();
