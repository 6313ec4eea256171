// Digests through OpenSSL's EVP interface (libcrypto), loaded the first time a
// digest is started: most runs ask for none, and the library's load alone maps
// about 1.4 MB of its pages into the process, more than a scanner's whole state.
#include "platform/digest.h"

#include <dlfcn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/opensslv.h>

#include <mutex>
#include <new>

namespace {

// The library of the major version the program was built against.
#if defined(OPENSSL_SHLIB_VERSION)
constexpr const char* k_library_name = "libcrypto.so." OPENSSL_MSTR(OPENSSL_SHLIB_VERSION);
#else
constexpr const char* k_library_name = "libcrypto.so." SHLIB_VERSION_NUMBER;
#endif

// The library's entries the digests use, typed by its own declarations.
struct crypto_entries {
  decltype(&EVP_MD_CTX_new) md_ctx_new = nullptr;
  decltype(&EVP_MD_CTX_free) md_ctx_free = nullptr;
  decltype(&EVP_DigestInit_ex) digest_init = nullptr;
  decltype(&EVP_DigestUpdate) digest_update = nullptr;
  decltype(&EVP_DigestFinal_ex) digest_final = nullptr;
  decltype(&EVP_md5) md5 = nullptr;
  decltype(&EVP_sha1) sha1 = nullptr;
  decltype(&EVP_sha256) sha256 = nullptr;
  decltype(&ERR_get_error) get_error = nullptr;
  decltype(&ERR_clear_error) clear_error = nullptr;
};

}  // namespace

// Made by a start that found the library, which the state keeps for the calls after.
struct digest_state {
  const crypto_entries* library = nullptr;
  EVP_MD_CTX* context = nullptr;
};

namespace {

template <typename entry>
bool find_entry(void* library, const char* name, entry& out) {
  out = reinterpret_cast<entry>(dlsym(library, name));
  return out != nullptr;
}

// Loads the library once for the process (any thread may be first); never
// unloaded. Null when it or one of its entries cannot be found: the digests are
// then unavailable, as for a library that lacks an algorithm.
const crypto_entries* crypto() {
  static crypto_entries entries;
  static bool loaded = false;
  static std::once_flag once;
  std::call_once(once, [] {
    void* library = dlopen(k_library_name, RTLD_NOW | RTLD_LOCAL);
    if (!library) return;
    crypto_entries& e = entries;
    loaded = find_entry(library, "EVP_MD_CTX_new", e.md_ctx_new) &&
             find_entry(library, "EVP_MD_CTX_free", e.md_ctx_free) &&
             find_entry(library, "EVP_DigestInit_ex", e.digest_init) &&
             find_entry(library, "EVP_DigestUpdate", e.digest_update) &&
             find_entry(library, "EVP_DigestFinal_ex", e.digest_final) &&
             find_entry(library, "EVP_md5", e.md5) && find_entry(library, "EVP_sha1", e.sha1) &&
             find_entry(library, "EVP_sha256", e.sha256) &&
             find_entry(library, "ERR_get_error", e.get_error) &&
             find_entry(library, "ERR_clear_error", e.clear_error);
  });
  return loaded ? &entries : nullptr;
}

const EVP_MD* algorithm_of(const crypto_entries& c, digest_kind kind) {
  switch (kind) {
    case digest_kind::md5:
      return c.md5();
    case digest_kind::sha1:
      return c.sha1();
    case digest_kind::sha256:
      return c.sha256();
  }
  return nullptr;
}

// Whether the library's last failures include an allocation that failed: the
// library tells it apart from an algorithm it lacks only through its error queue.
bool library_ran_out_of_memory(const crypto_entries& c) {
  bool ran_out = false;
  while (unsigned long error = c.get_error()) {
    if (ERR_GET_REASON(error) == ERR_R_MALLOC_FAILURE) ran_out = true;
  }
  return ran_out;
}

}  // namespace

digest_start_result digest_start(digest_state*& state, digest_kind kind) {
  const crypto_entries* c = crypto();
  if (!c) return digest_start_result::unavailable;
  if (!state) state = new (std::nothrow) digest_state{c};
  if (!state) return digest_start_result::out_of_memory;
  c->clear_error();
  if (!state->context) state->context = c->md_ctx_new();
  if (!state->context) return digest_start_result::out_of_memory;
  const EVP_MD* algorithm = algorithm_of(*c, kind);
  if (algorithm && c->digest_init(state->context, algorithm, nullptr) == 1)
    return digest_start_result::started;
  return library_ran_out_of_memory(*c) ? digest_start_result::out_of_memory
                                       : digest_start_result::unavailable;
}

bool digest_add(digest_state* state, const void* bytes, std::size_t size) {
  return state && state->context &&
         state->library->digest_update(state->context, bytes, size) == 1;
}

bool digest_finish(digest_state* state, digest_value& out) {
  unsigned int size = 0;
  if (!state || !state->context ||
      state->library->digest_final(state->context, out.bytes.data(), &size) != 1)
    return false;
  out.size = size;
  return true;
}

void digest_free(digest_state*& state) {
  if (!state) return;
  if (state->context) state->library->md_ctx_free(state->context);
  delete state;
  state = nullptr;
}

std::string_view digest_code_notice() {
  return "\nThe MD5, SHA-1 and SHA-256 digests of the hash options come from OpenSSL's\n"
         "libcrypto, loaded from the system when a hash option asks for it (built\n"
         "against " OPENSSL_VERSION_TEXT
         "), not from code carried in this program.\n"
#if defined(OPENSSL_VERSION_MAJOR) && OPENSSL_VERSION_MAJOR >= 3
         "OpenSSL is distributed under the Apache License 2.0\n"
#else
         "OpenSSL is distributed under the OpenSSL and SSLeay licences\n"
#endif
         "(https://www.openssl.org/source/license.html): whoever passes it on with\n"
         "this program follows the conditions of that licence.\n";
}
