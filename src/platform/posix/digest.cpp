// Digests through OpenSSL's EVP interface (libcrypto).
#include "platform/digest.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/opensslv.h>

#include <new>

struct digest_state {
  EVP_MD_CTX* context = nullptr;
};

namespace {

const EVP_MD* algorithm_of(digest_kind kind) {
  switch (kind) {
    case digest_kind::md5:
      return EVP_md5();
    case digest_kind::sha1:
      return EVP_sha1();
    case digest_kind::sha256:
      return EVP_sha256();
  }
  return nullptr;
}

// Whether the library's last failures include an allocation that failed: the
// library tells it apart from an algorithm it lacks only through its error queue.
bool library_ran_out_of_memory() {
  bool ran_out = false;
  while (unsigned long error = ERR_get_error()) {
    if (ERR_GET_REASON(error) == ERR_R_MALLOC_FAILURE) ran_out = true;
  }
  return ran_out;
}

}  // namespace

digest_start_result digest_start(digest_state*& state, digest_kind kind) {
  if (!state) state = new (std::nothrow) digest_state;
  if (!state) return digest_start_result::out_of_memory;
  ERR_clear_error();
  if (!state->context) state->context = EVP_MD_CTX_new();
  if (!state->context) return digest_start_result::out_of_memory;
  const EVP_MD* algorithm = algorithm_of(kind);
  if (algorithm && EVP_DigestInit_ex(state->context, algorithm, nullptr) == 1)
    return digest_start_result::started;
  return library_ran_out_of_memory() ? digest_start_result::out_of_memory
                                     : digest_start_result::unavailable;
}

bool digest_add(digest_state* state, const void* bytes, std::size_t size) {
  return state && EVP_DigestUpdate(state->context, bytes, size) == 1;
}

bool digest_finish(digest_state* state, digest_value& out) {
  unsigned int size = 0;
  if (!state || EVP_DigestFinal_ex(state->context, out.bytes.data(), &size) != 1) return false;
  out.size = size;
  return true;
}

void digest_free(digest_state*& state) {
  if (!state) return;
  EVP_MD_CTX_free(state->context);
  delete state;
  state = nullptr;
}

std::string_view digest_code_notice() {
  return "\nThe MD5, SHA-1 and SHA-256 digests of the hash options come from OpenSSL's\n"
         "libcrypto, linked from the system (built against " OPENSSL_VERSION_TEXT
         "),\n"
         "not from code carried in this program. "
#if defined(OPENSSL_VERSION_MAJOR) && OPENSSL_VERSION_MAJOR >= 3
         "OpenSSL is distributed under the\n"
         "Apache License 2.0 (https://www.openssl.org/source/license.html): whoever\n"
#else
         "OpenSSL is distributed under the\n"
         "OpenSSL and SSLeay licences (https://www.openssl.org/source/license.html): whoever\n"
#endif
         "passes it on with this program follows the conditions of that licence.\n";
}
