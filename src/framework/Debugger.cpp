#include "framework/Debugger.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>

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

// The installed debugger, and the lock under which it is read, made and
// replaced: any thread may report while another installs its own. Held in
// function-local statics so that they exist whenever they are first asked
// for, also during other objects' static initialisation.
struct Installed {
  std::mutex lock;
  CTPointer<Debugger> debugger;
};

Installed& TheInstalled() {
  static Installed installed;
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
  Installed& installed = TheInstalled();
  const std::lock_guard<std::mutex> held(installed.lock);
  if (installed.debugger.IsNull()) {
    installed.debugger = new Debugger();
  }
  return installed.debugger;
}

// The one replaced is let go after the lock, so that its destructor may
// itself report.
void SetDebugger(CTPointer<Debugger> debugger) {
  Installed& installed = TheInstalled();
  {
    const std::lock_guard<std::mutex> held(installed.lock);
    std::swap(installed.debugger, debugger);
  }
}

}  // namespace RXM

NullDebugger::~NullDebugger() = default;

void NullDebugger::Print(const char*, ...) {}

void NullDebugger::PrintError(const char*, ...) {}
