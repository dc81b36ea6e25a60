#include "framework/Debugger.h"

#include <cstdarg>
#include <cstdio>

#include "framework/Format.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

#if defined(__GNUC__) && !defined(_WIN32)
__attribute__((format(printf, 1, 0)))
#endif
void Emit(const char* format, va_list arguments) {
  const String text = RXM::FormatV(format, arguments);
  (void)std::fputs(text.GetText(), stderr);
#if defined(_WIN32)
  OutputDebugStringA(text.GetText());
#endif
}

// The installed debugger. Held in a function-local static so that it exists
// whenever it is first asked for, also during other objects' static
// initialisation.
CTPointer<Debugger>& Installed() {
  static CTPointer<Debugger> installed;
  return installed;
}

}  // namespace

Debugger::~Debugger() = default;

void Debugger::Print(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Emit(format, arguments);
  va_end(arguments);
}

void Debugger::PrintError(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Emit(format, arguments);
  va_end(arguments);
}

namespace RXM {

CTPointer<Debugger> GetDebugger() {
  CTPointer<Debugger>& installed = Installed();
  if (installed.IsNull()) {
    installed = new Debugger();
  }
  return installed;
}

void SetDebugger(CTPointer<Debugger> debugger) {
  Installed() = debugger;
}

}  // namespace RXM

NullDebugger::~NullDebugger() = default;

void NullDebugger::Print(const char*, ...) {}

void NullDebugger::PrintError(const char*, ...) {}
