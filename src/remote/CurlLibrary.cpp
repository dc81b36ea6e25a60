#include "remote/CurlLibrary.h"

#if !defined(_WIN32)

#include <dlfcn.h>

#include <mutex>

namespace RXM {
namespace http {
namespace {

// The soname of libcurl 7.16 onwards, whose ABI curl.h describes.
constexpr const char* kSoname = "libcurl.so.4";

// The function `name` of `library` into *slot; false, with the name in
// *missing, when the library has none. POSIX lets dlsym's object pointer be
// converted to a function pointer.
template <class Function>
bool Find(void* library, const char* name, Function* slot, std::string* missing) {
  void* const symbol = dlsym(library, name);
  if (symbol == nullptr) {
    *missing = name;
    return false;
  }
  *slot = reinterpret_cast<Function>(symbol);
  return true;
}

// Every function of CurlLibrary from `library`: false, with the first name
// missing, when any is.
bool FindAll(void* library, CurlLibrary* f, std::string* missing) {
  return Find(library, "curl_global_init", &f->globalInit, missing) &&
         Find(library, "curl_easy_init", &f->easyInit, missing) &&
         Find(library, "curl_easy_setopt", &f->setopt, missing) &&
         Find(library, "curl_easy_perform", &f->perform, missing) &&
         Find(library, "curl_easy_getinfo", &f->getinfo, missing) &&
         Find(library, "curl_easy_cleanup", &f->cleanup, missing) &&
         Find(library, "curl_easy_strerror", &f->strerror, missing) &&
         Find(library, "curl_share_init", &f->shareInit, missing) &&
         Find(library, "curl_share_setopt", &f->shareSetopt, missing) &&
         Find(library, "curl_share_cleanup", &f->shareCleanup, missing) &&
         Find(library, "curl_slist_append", &f->slistAppend, missing) &&
         Find(library, "curl_slist_free_all", &f->slistFreeAll, missing);
}

}  // namespace

bool CurlLibrary::Load(const char* soname, CurlLibrary* functions, std::string* why) {
  // RTLD_LOCAL: its names serve only these lookups, never a program's own.
  void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    // glibc keeps dlerror's text per thread.
    const char* error = dlerror();  // NOLINT(concurrency-mt-unsafe)
    *why = error != nullptr ? error : std::string(soname) + ": cannot be loaded";
    return false;
  }
  std::string missing;
  if (!FindAll(library, functions, &missing)) {
    *why = std::string(soname) + " has no " + missing + ": not libcurl";
    dlclose(library);
    return false;
  }
  return true;
}

const CurlLibrary* CurlLibrary::Get(std::string* why) {
  // Loaded under a lock rather than std::call_once, so that a failed load
  // is tried again by the next request (the library may be installed since).
  static std::mutex loading;
  static CurlLibrary functions{};
  static bool loaded = false;
  const std::lock_guard<std::mutex> lock(loading);
  if (!loaded) {
    if (!Load(kSoname, &functions, why)) {
      return nullptr;
    }
    // Once per process, before any other call, as libcurl asks.
    functions.globalInit(CURL_GLOBAL_DEFAULT);
    loaded = true;
  }
  return &functions;
}

}  // namespace http
}  // namespace RXM

#endif  // !_WIN32
