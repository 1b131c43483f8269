// Stand-ins for two platform services that the program cannot be made to
// fail for real, preloaded (LD_PRELOAD) into it by test_page_security.py:
//   - libuuid's random generator, which has no failure of its own, yields
//     nothing (an all-zero value);
//   - RSA encryption fails with a queued OpenSSL error. (An OpenSSL
//     configuration without algorithms would fail it for real, but it also
//     fails the package check that every start makes first.)
// Everything else in the program stays real.
#include <openssl/err.h>
#include <openssl/evp.h>

#include <cstring>

extern "C" {

__attribute__((visibility("default"))) void uuid_generate_random(unsigned char* out) {
  std::memset(out, 0, 16);
}

__attribute__((visibility("default"))) int EVP_PKEY_encrypt(EVP_PKEY_CTX*, unsigned char*, size_t*,
                                                            const unsigned char*, size_t) {
  ERR_raise(ERR_LIB_EVP, EVP_R_OPERATION_NOT_SUPPORTED_FOR_THIS_KEYTYPE);
  return 0;
}

}  // extern "C"
