#include "files/CryptoLibrary.h"

#if !defined(_WIN32)

#include "files/SharedLibrary.h"

namespace RXM {
namespace {

// The soname of OpenSSL 3, whose ABI its headers describe.
constexpr const char* kSoname = "libcrypto.so.3";

bool FindAll(void* library, CryptoLibrary* f, std::string* missing) {
  return SharedLibrary::Find(library, "EVP_MD_CTX_new", &f->newContext, missing) &&
         SharedLibrary::Find(library, "EVP_MD_CTX_free", &f->freeContext, missing) &&
         SharedLibrary::Find(library, "EVP_sha256", &f->sha256, missing) &&
         SharedLibrary::Find(library, "EVP_DigestInit_ex", &f->init, missing) &&
         SharedLibrary::Find(library, "EVP_DigestUpdate", &f->update, missing) &&
         SharedLibrary::Find(library, "EVP_DigestFinal_ex", &f->final, missing);
}

}  // namespace

bool CryptoLibrary::Load(const char* soname, CryptoLibrary* functions, std::string* why) {
  return SharedLibrary::Load(
      soname, "libcrypto",
      [functions](void* library, std::string* missing) {
        return FindAll(library, functions, missing);
      },
      why);
}

const CryptoLibrary* CryptoLibrary::Get(std::string* why) {
  static LoadedOnce<CryptoLibrary> library;
  return library.Get([](CryptoLibrary* f, std::string* reason) { return Load(kSoname, f, reason); },
                     why);
}

}  // namespace RXM

#endif  // !_WIN32
