// libcurl is loaded by name when first needed: what a missing library, or
// one that is not libcurl, makes of the load.
#include "remote/CurlLibrary.h"

#include <gtest/gtest.h>

#include <string>

namespace RXM {
namespace http {
namespace {

TEST(CurlLibraryTest, TheProcesssLibcurlLoadsWithEveryFunctionFound) {
  std::string why;
  const CurlLibrary* library = CurlLibrary::Get(&why);
  ASSERT_NE(library, nullptr) << why;
  EXPECT_EQ(CurlLibrary::Get(&why), library);
  EXPECT_STREQ(library->strerror(CURLE_OK), "No error");
  CURL* curl = library->easyInit();
  ASSERT_NE(curl, nullptr);
  EXPECT_EQ(library->setopt(curl, CURLOPT_URL, "http://127.0.0.1:1/"), CURLE_OK);
  library->cleanup(curl);
}

struct Refused {
  const char* soname;
  const char* reason;  // a part of the reason given
};

class CurlLibraryRefusalTest : public testing::TestWithParam<Refused> {};

TEST_P(CurlLibraryRefusalTest, ALibraryThatCannotServeIsRefusedWithItsNameAndWhy) {
  CurlLibrary functions{};
  std::string why;
  EXPECT_FALSE(CurlLibrary::Load(GetParam().soname, &functions, &why));
  EXPECT_NE(why.find(GetParam().soname), std::string::npos) << why;
  EXPECT_NE(why.find(GetParam().reason), std::string::npos) << why;
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, CurlLibraryRefusalTest,
    testing::Values(Refused{"libcurl-that-is-not-installed.so.4", "cannot open shared object"},
                    Refused{"libc.so.6", "has no curl_global_init: not libcurl"}));

}  // namespace
}  // namespace http
}  // namespace RXM
