// Symbol visibility of the library's public interface.
//
// The library is built hidden by default; only what carries RXMFILES_API is
// exported from libRXMFiles.so / RXMFiles.dll. RXMFILES_BUILDING is defined
// while the library itself is compiled; RXMFILES_STATIC while it is compiled or
// used as a static archive (the test build links one).
#ifndef RXMFILES_FRAMEWORK_EXPORT_H
#define RXMFILES_FRAMEWORK_EXPORT_H

#if defined(RXMFILES_STATIC)
#define RXMFILES_API
#elif defined(_WIN32)
#if defined(RXMFILES_BUILDING)
#define RXMFILES_API __declspec(dllexport)
#else
#define RXMFILES_API __declspec(dllimport)
#endif
#else
#define RXMFILES_API __attribute__((visibility("default")))
#endif

// printf-style checking of a member function's format (index counts `this`).
#if defined(__GNUC__) && !defined(_WIN32)
#define RXMFILES_PRINTF(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define RXMFILES_PRINTF(formatIndex, firstArgument)
#endif

#endif  // RXMFILES_FRAMEWORK_EXPORT_H
