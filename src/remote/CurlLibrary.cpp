#include "remote/CurlLibrary.h"

#if !defined(_WIN32)

#include "files/SharedLibrary.h"

namespace RXM {
namespace http {
namespace {

// The soname of libcurl 7.16 onwards, whose ABI curl.h describes.
constexpr const char* kSoname = "libcurl.so.4";

// Every function of CurlLibrary from `library`: false, with the first name
// missing, when any is.
bool FindAll(void* library, CurlLibrary* f, std::string* missing) {
  return SharedLibrary::Find(library, "curl_global_init", &f->globalInit, missing) &&
         SharedLibrary::Find(library, "curl_easy_init", &f->easyInit, missing) &&
         SharedLibrary::Find(library, "curl_easy_setopt", &f->setopt, missing) &&
         SharedLibrary::Find(library, "curl_easy_perform", &f->perform, missing) &&
         SharedLibrary::Find(library, "curl_easy_getinfo", &f->getinfo, missing) &&
         SharedLibrary::Find(library, "curl_easy_cleanup", &f->cleanup, missing) &&
         SharedLibrary::Find(library, "curl_easy_strerror", &f->strerror, missing) &&
         SharedLibrary::Find(library, "curl_share_init", &f->shareInit, missing) &&
         SharedLibrary::Find(library, "curl_share_setopt", &f->shareSetopt, missing) &&
         SharedLibrary::Find(library, "curl_share_cleanup", &f->shareCleanup, missing) &&
         SharedLibrary::Find(library, "curl_slist_append", &f->slistAppend, missing) &&
         SharedLibrary::Find(library, "curl_slist_free_all", &f->slistFreeAll, missing);
}

}  // namespace

bool CurlLibrary::Load(const char* soname, CurlLibrary* functions, std::string* why) {
  return SharedLibrary::Load(
      soname, "libcurl",
      [functions](void* library, std::string* missing) {
        return FindAll(library, functions, missing);
      },
      why);
}

const CurlLibrary* CurlLibrary::Get(std::string* why) {
  static LoadedOnce<CurlLibrary> library;
  return library.Get(
      [](CurlLibrary* f, std::string* reason) {
        if (!Load(kSoname, f, reason)) {
          return false;
        }
        f->globalInit(CURL_GLOBAL_DEFAULT);  // once per process, before any other call
        return true;
      },
      why);
}

}  // namespace http
}  // namespace RXM

#endif  // !_WIN32
