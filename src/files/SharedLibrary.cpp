#include "files/SharedLibrary.h"

#if !defined(_WIN32)

#include <dlfcn.h>

namespace RXM {

void* SharedLibrary::Open(const char* soname, std::string* why) {
  void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    // glibc keeps dlerror's text per thread.
    const char* error = dlerror();  // NOLINT(concurrency-mt-unsafe)
    *why = error != nullptr ? error : std::string(soname) + ": cannot be loaded";
  }
  return library;
}

void* SharedLibrary::Symbol(void* library, const char* name) {
  return dlsym(library, name);
}

void SharedLibrary::Close(void* library) {
  dlclose(library);
}

}  // namespace RXM

#endif  // !_WIN32
