// Shared libraries opened by name when first needed (dlopen), for the
// dependencies that most runs never use: a program links this library
// without loading them, and one on a system without them gets a reason
// instead of failing to start. POSIX builds only.
#ifndef RXMFILES_FILES_SHAREDLIBRARY_H
#define RXMFILES_FILES_SHAREDLIBRARY_H

#if !defined(_WIN32)

#include <atomic>
#include <mutex>
#include <string>

namespace RXM {

class SharedLibrary {
 public:
  // Opens `soname` with every symbol bound at once, its names private to
  // these lookups (never a program's own); null, with *why the loader's
  // text naming it, when it cannot be loaded.
  static void* Open(const char* soname, std::string* why);

  // The function `name` of `library` into *slot; false, with the name in
  // *missing, when the library has none.
  template <class Function>
  static bool Find(void* library, const char* name, Function* slot, std::string* missing) {
    void* const symbol = Symbol(library, name);
    if (symbol == nullptr) {
      *missing = name;
      return false;
    }
    // POSIX lets dlsym's object pointer be converted to a function pointer.
    *slot = reinterpret_cast<Function>(symbol);
    return true;
  }

  // Open, then `findAll(library, &missing)` to fill the caller's functions:
  // true when every one is found; false with *why naming the library and
  // what failed ("<soname> has no <function>: not <what>"), nothing staying
  // loaded.
  template <class FindAll>
  static bool Load(const char* soname, const char* what, FindAll findAll, std::string* why) {
    void* const library = Open(soname, why);
    if (library == nullptr) {
      return false;
    }
    std::string missing;
    if (!findAll(library, &missing)) {
      *why = std::string(soname) + " has no " + missing + ": not " + what;
      Close(library);
      return false;
    }
    return true;
  }

 private:
  static void* Symbol(void* library, const char* name);
  static void Close(void* library);
};

// The functions of one library for the whole process, filled by the first
// Get whose `load` succeeds; later calls give the same answer without a
// lock, so that asking costs nothing once loaded (a digest is made for every
// entry checked). Loaded under a lock rather than std::call_once, so that a
// failed load is tried again by the next call (the library may be installed
// since). Never unloaded.
template <class Functions>
class LoadedOnce {
 public:
  // `load(&functions, why)`: true once they are all found (and the library
  // set up), or false with *why; null is returned then.
  template <class Load>
  const Functions* Get(Load load, std::string* why) {
    if (!loaded.load(std::memory_order_acquire)) {
      const std::lock_guard<std::mutex> hold(loading);
      if (!loaded.load(std::memory_order_relaxed)) {
        if (!load(&functions, why)) {
          return nullptr;
        }
        loaded.store(true, std::memory_order_release);
      }
    }
    return &functions;
  }

 private:
  std::mutex loading;
  Functions functions{};
  std::atomic<bool> loaded{false};
};

}  // namespace RXM

#endif  // !_WIN32
#endif  // RXMFILES_FILES_SHAREDLIBRARY_H
