// The names of -T FILE (--files-from): the inputs of create and add, one per
// line, or each ended by a NUL byte with --null (as find -print0 writes
// them).
#ifndef KYMF_SUPPORT_NAMELIST_H
#define KYMF_SUPPORT_NAMELIST_H

#include <string>
#include <string_view>
#include <vector>

#include <RXMFiles.h>

#include "backends/System.h"

namespace kymf {

// The names `text` holds: split at LF (a CR before it dropped, so a list
// written on Windows serves as well) or, with `nulSeparated`, at NUL bytes
// only (every other byte is part of a name). Empty names are left out; the
// last name needs no separator after it.
std::vector<std::string> SplitNameList(std::string_view text, bool nulSeparated);

// Appends the names of the file `file` ("-": standard input) to `names`,
// opened and read through `system`. Ok, or kCannotOpen / kReadFailed naming
// the file ("-" for standard input) with the system's reason; `names` is
// then as it was.
RXM::Status ReadNameList(const std::string& file, bool nulSeparated,
                         std::vector<std::string>& names,
                         RXM::sys::System& system = RXM::sys::System::Default());

}  // namespace kymf

#endif  // KYMF_SUPPORT_NAMELIST_H
