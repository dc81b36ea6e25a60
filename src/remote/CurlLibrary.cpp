#include "remote/CurlLibrary.h"

#if !defined(_WIN32)

#include <dlfcn.h>

#include <mutex>

namespace RXM {
namespace http {
namespace {

// The soname of libcurl 7.16 onwards, whose ABI curl.h describes.
constexpr const char* kSoname = "libcurl.so.4";

// Each function pointer of `functions` from `library`, by its C name: false,
// with the first name missing, when any is.
bool FindAll(void* library, CurlLibrary* functions, std::string* missing) {
  struct Symbol {
    const char* name;
    void** slot;
  };
  // Function pointers stored through void**, as POSIX dlsym's own example
  // does: a function pointer and an object pointer have one size there.
  const Symbol symbols[] = {
      {"curl_global_init", reinterpret_cast<void**>(&functions->globalInit)},
      {"curl_easy_init", reinterpret_cast<void**>(&functions->easyInit)},
      {"curl_easy_setopt", reinterpret_cast<void**>(&functions->setopt)},
      {"curl_easy_perform", reinterpret_cast<void**>(&functions->perform)},
      {"curl_easy_getinfo", reinterpret_cast<void**>(&functions->getinfo)},
      {"curl_easy_cleanup", reinterpret_cast<void**>(&functions->cleanup)},
      {"curl_easy_strerror", reinterpret_cast<void**>(&functions->strerror)},
      {"curl_share_init", reinterpret_cast<void**>(&functions->shareInit)},
      {"curl_share_setopt", reinterpret_cast<void**>(&functions->shareSetopt)},
      {"curl_share_cleanup", reinterpret_cast<void**>(&functions->shareCleanup)},
      {"curl_slist_append", reinterpret_cast<void**>(&functions->slistAppend)},
      {"curl_slist_free_all", reinterpret_cast<void**>(&functions->slistFreeAll)},
  };
  for (const Symbol& symbol : symbols) {
    *symbol.slot = dlsym(library, symbol.name);
    if (*symbol.slot == nullptr) {
      *missing = symbol.name;
      return false;
    }
  }
  return true;
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
