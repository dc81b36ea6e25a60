// printf-style formatting into a String, shared by the framework's messages.
#ifndef RXMFILES_FRAMEWORK_FORMAT_H
#define RXMFILES_FRAMEWORK_FORMAT_H

#include <cstdarg>

#include "framework/String.h"

namespace RXM {

// The text that vprintf would print; "" for a null format. `arguments` is
// consumed.
#if defined(__GNUC__) && !defined(_WIN32)
__attribute__((format(printf, 1, 0)))
#endif
String
FormatV(const char* format, va_list arguments);

}  // namespace RXM

#endif  // RXMFILES_FRAMEWORK_FORMAT_H
