// libcurl, loaded when the first request needs it.
//
// Linking libcurl made every program that links this library load it and the
// thirty-odd libraries it needs at start (about 4 ms of each run of kymf on
// a 2-core machine, a tenth of a mount), whether or not it ever reaches a
// URL. The POSIX builds compile against libcurl's headers and open its
// shared library (soname libcurl.so.4, the ABI those headers describe) the
// first time a transport is made; a program that never asks for a URL never
// loads it, and one on a system without it gets a reason instead of failing
// to start.
#ifndef RXMFILES_REMOTE_CURLLIBRARY_H
#define RXMFILES_REMOTE_CURLLIBRARY_H

#if !defined(_WIN32)

#include <curl/curl.h>

#include <string>

namespace RXM {
namespace http {

// The functions of libcurl that the transport calls, by the names of their
// roles (a member named curl_easy_setopt would be taken by the macro of that
// name that curl.h defines to check argument types).
struct CurlLibrary {
  CURLcode (*globalInit)(long flags);
  CURL* (*easyInit)();
  CURLcode (*setopt)(CURL* curl, CURLoption option, ...);
  CURLcode (*perform)(CURL* curl);
  CURLcode (*getinfo)(CURL* curl, CURLINFO info, ...);
  void (*cleanup)(CURL* curl);
  const char* (*strerror)(CURLcode code);
  CURLSH* (*shareInit)();
  CURLSHcode (*shareSetopt)(CURLSH* share, CURLSHoption option, ...);
  CURLSHcode (*shareCleanup)(CURLSH* share);
  curl_slist* (*slistAppend)(curl_slist* list, const char* text);
  void (*slistFreeAll)(curl_slist* list);

  // The library of the process, loaded and initialised (curl_global_init) by
  // the first call, from any thread; later calls give the same answer. Null
  // when it cannot be loaded, with *why saying so ("libcurl.so.4: cannot open
  // shared object file: ..."); a later call tries again. It is never unloaded.
  static const CurlLibrary* Get(std::string* why);

  // One attempt to load the shared library `soname` and find every function
  // above in it: true with *functions filled, or false with *why naming the
  // library and what failed (nothing stays loaded then). Get's own step,
  // apart so that a test can name a library that is missing or is not
  // libcurl.
  static bool Load(const char* soname, CurlLibrary* functions, std::string* why);
};

}  // namespace http
}  // namespace RXM

#endif  // !_WIN32
#endif  // RXMFILES_REMOTE_CURLLIBRARY_H
