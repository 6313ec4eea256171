// Message digests (MD5, SHA-1, SHA-256) from the cryptography the build carries:
// OpenSSL's libcrypto on POSIX, the system's CNG (BCrypt) on Windows. No digest
// code is written here. A state belongs to its caller (one per column of a scan,
// so that scans side by side never share one) and is made once, then started
// again for each file, so a file costs no allocation of ours. Scanner threads:
// yes, each with states of its own.
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

struct digest_state;  // one digest under way; kept by its caller for reuse

// What starting a digest came to: unavailable when the library gives no such
// digest, out_of_memory when it could not start one for want of memory.
enum class digest_start_result { started, unavailable, out_of_memory };

// Starts a digest of `kind` over new bytes in `state`, which is made on first
// use and may be started again for another file, of any kind.
digest_start_result digest_start(digest_state*& state, digest_kind kind);
// Adds `size` bytes; false when the library fails (the digest is then of no use).
bool digest_add(digest_state* state, const void* bytes, std::size_t size);
// Finishes the digest into `out`; false on failure. The state may be started again.
bool digest_finish(digest_state* state, digest_value& out);
// Gives back everything `state` holds and makes it null; a null state is left alone.
void digest_free(digest_state*& state);
// Whose digest code the build carries and under which conditions it is passed on.
std::string_view digest_code_notice();
