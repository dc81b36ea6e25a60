// What a name must be to be stored in an archive: what extraction would
// write (the library's safe-name rule) and what a record can hold.
#ifndef KYMF_SUPPORT_ENTRYNAMERULE_H
#define KYMF_SUPPORT_ENTRYNAMERULE_H

#include <string>
#include <string_view>

namespace kymf {

// "" when `name` may be stored; otherwise why not, e.g. "name refused: is
// absolute" or "name longer than 69 bytes".
std::string RefuseEntryName(std::string_view name);

}  // namespace kymf

#endif  // KYMF_SUPPORT_ENTRYNAMERULE_H
