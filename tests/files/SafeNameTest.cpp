// The rule every name must pass before it becomes a path on disk or in a
// mount, and the device-name rule that the walk below a folder and
// extraction apply on Windows.
#include <gtest/gtest.h>

#include <string>

#include "files/SafeName.h"

namespace {

using RXM::NameFault;

struct NameCase {
  std::string name;
  NameFault fault;
};

// A control character or a backslash anywhere is named before any bad
// component, wherever that component stands.
TEST(SafeNameTest, NamesTheFaultThatOutranksTheOthers) {
  const NameCase cases[] = {
      {"a", NameFault::kNone},
      {"sounds/big.wav", NameFault::kNone},
      {".hidden/..x/x..", NameFault::kNone},
      {"ab:c", NameFault::kNone},
      {"", NameFault::kEmpty},
      {"/etc/passwd", NameFault::kAbsolute},
      {"/a\\b", NameFault::kAbsolute},
      {"c:x", NameFault::kDriveLetter},
      {"Z:/x", NameFault::kDriveLetter},
      {"a\\b", NameFault::kBackslash},
      {"../a\\b", NameFault::kBackslash},
      {"..", NameFault::kParentComponent},
      {"a/../b", NameFault::kParentComponent},
      {"a/..", NameFault::kParentComponent},
      {"a/../b/./c", NameFault::kParentComponent},
      {"./a", NameFault::kDotComponent},
      {"a//b", NameFault::kDotComponent},
      {"a/", NameFault::kDotComponent},
      {"a/./../b", NameFault::kDotComponent},
      {"a\tb", NameFault::kControlCharacter},
      {"../a\x7f", NameFault::kControlCharacter},
      {"a//b\x1f", NameFault::kControlCharacter},
      {std::string("a\0b", 3), NameFault::kControlCharacter},
      {"a\x01\\b", NameFault::kControlCharacter},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(RXM::CheckSafeName(c.name.data(), c.name.size()), c.fault) << c.name;
  }
}

TEST(SafeNameTest, DeviceNamesAreKnownWhateverTheirCaseExtensionOrTrailingSpaces) {
  for (const char* name : {"CON", "con", "Nul.txt", "aux.tar.gz", "PRN ", "com1", "LPT9.x",
                           "CONIN$", "conout$", "a:b", "file.txt:stream"}) {
    EXPECT_TRUE(RXM::IsDeviceName(name)) << name;
  }
  for (const char* name : {"CONSOLE", "xcon", "com", "COM10", "lpt", "nul_", "a.con", ""}) {
    EXPECT_FALSE(RXM::IsDeviceName(name)) << name;
  }
}

}  // namespace
