// OpenSSL's libcrypto, loaded when the first digest is made.
//
// Linking it made every program that links this library load it at start
// (about 1.2 ms of each run of kymf on a 2-core machine), though only sums
// use it. The POSIX builds compile against its headers and open its shared
// library (soname libcrypto.so.3, the ABI those headers describe) the first
// time a Sha256 is made; without it, digests are computed by
// Sha256Portable instead, the same bytes more slowly.
#ifndef RXMFILES_FILES_CRYPTOLIBRARY_H
#define RXMFILES_FILES_CRYPTOLIBRARY_H

#if !defined(_WIN32)

#include <openssl/evp.h>

#include <string>

namespace RXM {

// The functions of libcrypto that Sha256 calls.
struct CryptoLibrary {
  EVP_MD_CTX* (*newContext)();
  void (*freeContext)(EVP_MD_CTX* context);
  const EVP_MD* (*sha256)();
  int (*init)(EVP_MD_CTX* context, const EVP_MD* type, ENGINE* engine);
  int (*update)(EVP_MD_CTX* context, const void* data, std::size_t size);
  int (*final)(EVP_MD_CTX* context, unsigned char* digest, unsigned int* size);

  // The library of the process, loaded by the first call, from any thread;
  // later calls give the same answer. Null when it cannot be loaded, with
  // *why saying so; a later call tries again. It is never unloaded.
  static const CryptoLibrary* Get(std::string* why);

  // One attempt to load the shared library `soname` and find every function
  // above in it: true with *functions filled, or false with *why naming the
  // library and what failed (nothing stays loaded then). Get's own step,
  // apart so that a test can name a library that is missing or is not
  // libcrypto.
  static bool Load(const char* soname, CryptoLibrary* functions, std::string* why);
};

}  // namespace RXM

#endif  // !_WIN32
#endif  // RXMFILES_FILES_CRYPTOLIBRARY_H
