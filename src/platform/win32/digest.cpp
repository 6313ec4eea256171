// Digests through the system's own cryptography, CNG (BCrypt).
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <new>

#include "platform/digest.h"

struct digest_state {
  digest_kind kind = digest_kind::md5;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
};

namespace {

const wchar_t* algorithm_name(digest_kind kind) {
  switch (kind) {
    case digest_kind::md5:
      return BCRYPT_MD5_ALGORITHM;
    case digest_kind::sha1:
      return BCRYPT_SHA1_ALGORITHM;
    case digest_kind::sha256:
      return BCRYPT_SHA256_ALGORITHM;
  }
  return nullptr;
}

bool succeeded(NTSTATUS status) { return status >= 0; }

// STATUS_NO_MEMORY and STATUS_INSUFFICIENT_RESOURCES: the system could not
// start the digest now, which says nothing of whether it has one.
digest_start_result failure_of(NTSTATUS status) {
  auto code = static_cast<unsigned long>(status);
  return code == 0xC0000017UL || code == 0xC000009AUL ? digest_start_result::out_of_memory
                                                     : digest_start_result::unavailable;
}

void drop_hash(digest_state& state) {
  if (state.hash) BCryptDestroyHash(state.hash);
  state.hash = nullptr;
}

}  // namespace

digest_start_result digest_start(digest_state*& state, digest_kind kind) {
  if (!state) state = new (std::nothrow) digest_state;
  if (!state) return digest_start_result::out_of_memory;
  drop_hash(*state);
  // The provider is opened for one kind: another kind needs its own.
  if (state->algorithm && state->kind != kind) {
    BCryptCloseAlgorithmProvider(state->algorithm, 0);
    state->algorithm = nullptr;
  }
  state->kind = kind;
  if (!state->algorithm) {
    NTSTATUS opened =
        BCryptOpenAlgorithmProvider(&state->algorithm, algorithm_name(kind), nullptr, 0);
    if (!succeeded(opened)) {
      state->algorithm = nullptr;
      return failure_of(opened);
    }
  }
  // The provider keeps the hash object itself (no buffer of ours).
  NTSTATUS created = BCryptCreateHash(state->algorithm, &state->hash, nullptr, 0, nullptr, 0, 0);
  if (!succeeded(created)) {
    state->hash = nullptr;
    return failure_of(created);
  }
  return digest_start_result::started;
}

bool digest_add(digest_state* state, const void* bytes, std::size_t size) {
  if (!state || !state->hash) return false;
  auto* p = static_cast<unsigned char*>(const_cast<void*>(bytes));
  // BCryptHashData takes a 32-bit length.
  while (size > 0) {
    ULONG step = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    if (!succeeded(BCryptHashData(state->hash, p, step, 0))) return false;
    p += step;
    size -= step;
  }
  return true;
}

bool digest_finish(digest_state* state, digest_value& out) {
  if (!state || !state->hash) return false;
  DWORD size = 0;
  ULONG got = 0;
  bool ok = succeeded(BCryptGetProperty(state->hash, BCRYPT_HASH_LENGTH,
                                        reinterpret_cast<PUCHAR>(&size), sizeof size, &got, 0)) &&
            size <= out.bytes.size() &&
            succeeded(BCryptFinishHash(state->hash, out.bytes.data(), size, 0));
  drop_hash(*state);
  out.size = ok ? size : 0;
  return ok;
}

void digest_free(digest_state*& state) {
  if (!state) return;
  drop_hash(*state);
  if (state->algorithm) BCryptCloseAlgorithmProvider(state->algorithm, 0);
  delete state;
  state = nullptr;
}

std::string_view digest_code_notice() {
  return "\nThe MD5, SHA-1 and SHA-256 digests of the hash options come from the\n"
         "operating system's own cryptography (Windows CNG, bcrypt.dll), not from code\n"
         "carried in this program, so no redistribution conditions of third-party\n"
         "hashing code apply to it.\n";
}
