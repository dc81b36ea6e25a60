// Resources of Windows modules (.exe and .dll images).
//
// On Windows these are the real Win32 functions of <windows.h>. Elsewhere the library gives
// functions of the same names, signatures and answers over modules read from
// disk by RXM::LoadResourceModule: FindResourceA looks a resource up as
// Windows does, LoadResource and LockResource give its bytes inside the
// module's image, which stay valid until the module is freed, and
// FreeResource does nothing.
#ifndef RXMFILES_BACKENDS_RESOURCEMODULE_H
#define RXMFILES_BACKENDS_RESOURCEMODULE_H

#include <cstdint>

#include "files/Status.h"
#include "framework/Export.h"

namespace RXM {
namespace sys {
class System;
}
}  // namespace RXM

#if defined(_WIN32)
/// The handles as <windows.h> declares them (STRICT, its default), without
/// including it: a program that calls the Win32 functions includes it itself.
struct HINSTANCE__;
struct HRSRC__;
typedef HINSTANCE__* HINSTANCE;
typedef HRSRC__* HRSRC;
typedef void* HGLOBAL;
#else
struct ResourceModuleImage;
struct ResourceHandle;
using HINSTANCE = ResourceModuleImage*;
using HRSRC = ResourceHandle*;
using HGLOBAL = void*;

/// `name` and `type` are C strings, "#<decimal>" for an integer ID, or an ID
/// passed as MAKEINTRESOURCE (a value below 0x10000). The resource of a
/// neutral language is taken first, then US English (0x0409), then English
/// (0x0009), then the first language stored. Null when there is none, when an
/// ID string is invalid, or when `module` is not a loaded module. The handle
/// stays valid until the module is freed.
RXMFILES_API HRSRC FindResourceA(HINSTANCE module, const char* name, const char* type);
/// The resource's bytes as a handle; null when they lie outside the image, or
/// when `resource` is not a handle that FindResourceA gave for `module`.
RXMFILES_API HGLOBAL LoadResource(HINSTANCE module, HRSRC resource);
/// The resource's size in bytes; 0 for a handle that LoadResource refuses.
RXMFILES_API std::uint32_t SizeofResource(HINSTANCE module, HRSRC resource);
/// The bytes of a handle that LoadResource gave (the handle itself).
RXMFILES_API void* LockResource(HGLOBAL loaded);
/// Nothing to release: the bytes belong to the module. Always 0 (FALSE).
RXMFILES_API int FreeResource(HGLOBAL loaded);
#endif

namespace RXM {

/// Opens the Windows module at `path` for reading its resources; null when it
/// cannot be read or is not a valid PE32 or PE32+ image.
RXMFILES_API HINSTANCE LoadResourceModule(const char* path);
/// The same, and why: `status` is kOk when a module is returned; otherwise
/// kNoSuchFile, kIsAFolder, kCannotOpen, kNotAModule (no "MZ" or "PE"
/// signature) or kDamagedModule (headers cut short or inconsistent, e.g.
/// "truncated at byte 40 (...)"), its message naming `path`. A module whose
/// resource tree is damaged still loads; ListResources says what is wrong.
RXMFILES_API HINSTANCE LoadResourceModule(const char* path, Status& status);
/// The same, with the module's file examined and read through `system`, which
/// must outlive the module (on Windows the system's loader maps it; `system`
/// reads it to say why the loader refused it, and ListResources to find
/// damage the mapping hides).
RXMFILES_API HINSTANCE LoadResourceModule(const char* path, Status& status, sys::System& system);
/// Releases a module that LoadResourceModule returned; false for any other
/// handle. Its resource handles and bytes are invalid afterwards.
RXMFILES_API bool FreeResourceModule(HINSTANCE module);

/// One resource of a module, as the module stores it: type and name as
/// "#<id>" or as their string, the language ID, the size in bytes and the
/// bytes themselves (valid until the module is freed).
struct ResourceInfo {
  char type[260];             ///< "#<id>" or the type's string, NUL-terminated
  char name[260];             ///< "#<id>" or the name's string, NUL-terminated
  std::uint16_t language;     ///< the language ID (0x0409: US English)
  std::uint32_t size;         ///< the size in bytes
  const std::uint8_t* bytes;  ///< the bytes, valid until the module is freed
};

/// A language filter for ListResources that lets every language through.
constexpr int kAnyLanguage = -1;

/// Calls `visit` once per resource of `language` (a language ID such as
/// 0x0409, matched exactly, or kAnyLanguage), type then name then language in
/// the order the module stores them, and returns the number visited.
///
/// The whole resource tree is checked before anything is visited, so that
/// every resource listed can be opened: when a directory, a name or a data
/// entry lies outside the resource data, a directory leads back up the tree,
/// a resource's bytes lie outside the image, or the module's file is
/// truncated, nothing is visited, the result is -1 and `status` is
/// kDamagedModule with the reason. A directory that two entries share is
/// walked once. -1 and kNotOpen when `module` is not a loaded module. A module
/// without resources lists none: 0 and kOk.
///
/// On Windows the listing reads the image the system mapped, and a directory
/// two entries share is refused as damage (the system would walk it once per
/// entry). A module that LoadResourceModule did not load is named "resource
/// module" in the message, as the system keeps no file name for it.
RXMFILES_API int ListResources(HINSTANCE module,
                               void (*visit)(const ResourceInfo& info, void* context),
                               void* context, Status& status, int language = kAnyLanguage);
/// The same, every language, without the reason.
RXMFILES_API int ListResources(HINSTANCE module,
                               void (*visit)(const ResourceInfo& info, void* context),
                               void* context);

}  // namespace RXM

#endif  // RXMFILES_BACKENDS_RESOURCEMODULE_H
