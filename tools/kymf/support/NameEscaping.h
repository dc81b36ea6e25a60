// Names from an archive, a module or the command line, made safe to print.
//
// Archive names are bytes chosen by whoever wrote the archive: printed raw
// they could move the cursor, clear the screen or forge extra lines.
#ifndef KYMF_SUPPORT_NAMEESCAPING_H
#define KYMF_SUPPORT_NAMEESCAPING_H

#include <string>
#include <string_view>

namespace kymf {

// For plain output, in the manner of `ls -b`: "\\" for a backslash, "\n",
// "\t", "\r", "\a", "\b", "\f", "\v" for those controls, and a backslash
// with three octal digits ("\033") for every other control byte (C0, DEL and
// the C1 controls U+0080 to U+009F) and for every byte that is not part of
// valid UTF-8. Valid UTF-8 otherwise passes unchanged.
std::string EscapeName(std::string_view name);

// A JSON string literal (with its quotes) for `text`. Valid UTF-8 passes
// unchanged; '"' and '\\' are escaped, control characters become "\u00XX"
// (or \n, \t, ...), and each byte that is not part of valid UTF-8 becomes
// "\u00NN" with the byte's value, that is, it is read as Latin-1.
std::string JsonString(std::string_view text);

// The length of the valid UTF-8 sequence at the start of `text`: 1 to 4,
// or 0 when it does not begin with one (overlong forms, surrogates and
// values above U+10FFFF are not valid). `text` is not empty.
std::size_t Utf8SequenceLength(std::string_view text);

}  // namespace kymf

#endif  // KYMF_SUPPORT_NAMEESCAPING_H
