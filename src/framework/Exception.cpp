#include "framework/Exception.h"

#include <cstdarg>

#include "framework/Format.h"

Exception::Exception(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  text = RXM::FormatV(format, arguments);
  va_end(arguments);
}

Exception::~Exception() = default;

const char* Exception::GetText() const {
  return text.GetText();
}
