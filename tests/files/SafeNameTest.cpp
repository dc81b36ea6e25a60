// The device-name rule that the walk below a folder and extraction apply on
// Windows.
#include <gtest/gtest.h>

#include <string>

#include "files/SafeName.h"

namespace {

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
