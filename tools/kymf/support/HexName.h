// Names as the hexadecimal digits of their bytes: the lossless form of a
// name that `list --json` gives beside the printable one ("name_hex") and
// that cat and extract take back with --hex, so that a program can select
// an entry whose name is not valid UTF-8 ("caf\xe9" beside "café").
#ifndef KYMF_SUPPORT_HEXNAME_H
#define KYMF_SUPPORT_HEXNAME_H

#include <string>
#include <string_view>
#include <vector>

#include "support/Reporter.h"

namespace kymf {

// Two lower-case hexadecimal digits per byte: "caf\xe9" is "636166e9".
std::string HexOf(std::string_view bytes);

// The bytes that `hex` spells (digits in either case); false, with `bytes`
// unspecified, when `hex` has an odd length or a character that is no
// hexadecimal digit.
bool FromHex(std::string_view hex, std::string& bytes);

// The PATTERNs of a command line into `patterns`: as given, or with --hex
// (`hex`) the names their digits spell. False, said as a usage error, when
// one is not hexadecimal.
bool ReadPatterns(const std::vector<std::string>& given, bool hex, Reporter& reporter,
                  std::vector<std::string>& patterns);

}  // namespace kymf

#endif  // KYMF_SUPPORT_HEXNAME_H
