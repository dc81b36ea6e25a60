// The names of the standard Windows resource types (RT_RCDATA is "RCDATA",
// type 10), for showing a module's resources and for naming them by type:
// "RCDATA/ARCHIVE" rather than "#10/ARCHIVE".
#ifndef RXMFILES_BACKENDS_RESOURCETYPES_H
#define RXMFILES_BACKENDS_RESOURCETYPES_H

#include <cstdint>
#include <string>

#include "framework/Export.h"

namespace RXM {

/// The name of the standard type `id` ("CURSOR" for 1 ... "MANIFEST" for 24);
/// null for an ID without one.
RXMFILES_API const char* ResourceTypeName(std::uint32_t id);

/// A type as people write it, made the type that FindResourceA and
/// ResourceFile::OpenFile take: a standard name in any case ("rcdata"), "#N"
/// or a plain number N (0 to 65535) gives "#<id>" ("#10"); any other text is
/// a type of the module's own, named as written ("MYTYPE"). False, with
/// `type` unchanged, for an empty text or a "#" or plain number outside 0 to
/// 65535.
RXMFILES_API bool ResourceTypeFromText(const char* text, std::string& type);

/// A type as ResourceInfo and FindResourceA write it ("#10", "MYTYPE"), shown
/// with its standard name where it has one ("RCDATA"), otherwise unchanged.
/// ResourceTypeFromText reads every result back to the type it came from,
/// except a type of the module's own that is spelled like a standard name.
RXMFILES_API std::string ResourceTypeText(const char* type);

}  // namespace RXM

#endif  // RXMFILES_BACKENDS_RESOURCETYPES_H
