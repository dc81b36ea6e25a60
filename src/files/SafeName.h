// The one rule for names that become paths: entry names that extraction
// turns into files, and names looked up under a mounted folder.
//
// A safe name is relative, "/"-separated, and stays below the folder it is
// resolved in, on every system the library runs on.
#ifndef RXMFILES_FILES_SAFENAME_H
#define RXMFILES_FILES_SAFENAME_H

#include <cstddef>
#include <string>

#include "framework/Export.h"

namespace RXM {

enum class NameFault {
  kNone = 0,
  kEmpty,             // no characters at all
  kAbsolute,          // begins with "/"
  kDriveLetter,       // begins with a letter and ":" ("C:x", "c:/x")
  kBackslash,         // holds "\", a separator on Windows
  kParentComponent,   // a ".." component
  kDotComponent,      // a "." component, or an empty one ("a//b", "a/")
  kControlCharacter,  // a byte below 0x20, or 0x7F (NUL included)
};

// The first fault of the `length` bytes at `name`, or kNone. Reads exactly
// `length` bytes; a NUL among them is a control character.
RXMFILES_API NameFault CheckSafeName(const char* name, std::size_t length);

// A NUL-terminated name.
RXMFILES_API NameFault CheckSafeName(const char* name);

// Whether Windows takes the one component `component` of a path for
// something other than a name in its folder: a device (CON, PRN, AUX, NUL,
// CONIN$, CONOUT$, COM0-9, LPT0-9, in any letter case, whatever follows a
// "." and trailing spaces) or a stream (any ":"). Such a component is an
// ordinary name elsewhere; the library refuses it on Windows wherever it
// reads or creates a file below a folder.
RXMFILES_API bool IsDeviceName(const std::string& component);

// Why the fault makes a name unsafe, for messages: "is absolute", ...
RXMFILES_API const char* DescribeNameFault(NameFault fault);

}  // namespace RXM

#endif  // RXMFILES_FILES_SAFENAME_H
