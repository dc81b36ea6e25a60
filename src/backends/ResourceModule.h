// Resources of Windows modules (.exe and .dll images).
//
// On Windows these are the real Win32 functions. Elsewhere the library gives
// functions of the same names, signatures and answers over modules read from
// disk by RXM::LoadResourceModule: FindResourceA looks a resource up as
// Windows does (see ResourceModule.cpp), LoadResource and LockResource give
// its bytes inside the module's image, which stay valid until the module is
// freed, and FreeResource does nothing.
#ifndef RXMFILES_BACKENDS_RESOURCEMODULE_H
#define RXMFILES_BACKENDS_RESOURCEMODULE_H

#include <cstdint>

#include "framework/Export.h"

#if defined(_WIN32)
#include <windows.h>
#else
struct ResourceModuleImage;
struct ResourceHandle;
using HINSTANCE = ResourceModuleImage*;
using HRSRC = ResourceHandle*;
using HGLOBAL = void*;

// `name` and `type` are C strings, "#<decimal>" for an integer ID, or an ID
// passed as MAKEINTRESOURCE (a value below 0x10000). The resource of a
// neutral language is taken first, then US English (0x0409), then English
// (0x0009), then the first language stored. Null when there is none, when an
// ID string is invalid, or when `module` is not a loaded module.
RXMFILES_API HRSRC FindResourceA(HINSTANCE module, const char* name, const char* type);
// The resource's bytes as a handle; null when they lie outside the image.
RXMFILES_API HGLOBAL LoadResource(HINSTANCE module, HRSRC resource);
// The resource's size in bytes; 0 for an unknown resource.
RXMFILES_API std::uint32_t SizeofResource(HINSTANCE module, HRSRC resource);
RXMFILES_API void* LockResource(HGLOBAL loaded);
// Nothing to release: the bytes belong to the module. Always 0 (FALSE).
RXMFILES_API int FreeResource(HGLOBAL loaded);
#endif

namespace RXM {

// Opens the Windows module at `path` for reading its resources; null when it
// cannot be read or is not a valid PE32 or PE32+ image.
RXMFILES_API HINSTANCE LoadResourceModule(const char* path);
// Releases a module that LoadResourceModule returned; false for any other
// handle.
RXMFILES_API bool FreeResourceModule(HINSTANCE module);

// One resource of a module, as the module stores it: type and name as
// "#<id>" or as their string, the language ID, the size in bytes and the
// bytes themselves (valid until the module is freed; null when the image
// does not hold them).
struct ResourceInfo {
  char type[260];
  char name[260];
  std::uint16_t language;
  std::uint32_t size;
  const std::uint8_t* bytes;
};

// Calls `visit` once per resource (type, then name, then language, in the
// order the module stores them) and returns the number visited; -1 when
// `module` is not a loaded module or, on Windows, when its resource tree
// leads outside the module (Windows itself would read it out of bounds).
RXMFILES_API int ListResources(HINSTANCE module,
                               void (*visit)(const ResourceInfo& info, void* context),
                               void* context);

}  // namespace RXM

#endif  // RXMFILES_BACKENDS_RESOURCEMODULE_H
