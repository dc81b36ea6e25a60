// The libraries loaded by name when first needed (libcurl, libcrypto): each
// loads in this process with every function found, and a library that is
// missing, or is not the one asked for, is refused with its name and why.
#include "files/SharedLibrary.h"

#include <gtest/gtest.h>

#include <string>

#include "files/CryptoLibrary.h"
#include "remote/CurlLibrary.h"

namespace RXM {
namespace {

TEST(CurlLibraryTest, TheProcesssLibcurlLoadsWithEveryFunctionFound) {
  std::string why;
  const http::CurlLibrary* library = http::CurlLibrary::Get(&why);
  ASSERT_NE(library, nullptr) << why;
  EXPECT_EQ(http::CurlLibrary::Get(&why), library);
  EXPECT_STREQ(library->strerror(CURLE_OK), "No error");
  CURL* curl = library->easyInit();
  ASSERT_NE(curl, nullptr);
  EXPECT_EQ(library->setopt(curl, CURLOPT_URL, "http://127.0.0.1:1/"), CURLE_OK);
  library->cleanup(curl);
}

TEST(CryptoLibraryTest, TheProcesssLibcryptoLoadsAndDigests) {
  std::string why;
  const CryptoLibrary* library = CryptoLibrary::Get(&why);
  ASSERT_NE(library, nullptr) << why;
  EXPECT_EQ(CryptoLibrary::Get(&why), library);
  EVP_MD_CTX* context = library->newContext();
  ASSERT_NE(context, nullptr);
  unsigned char digest[32];
  unsigned int size = 0;
  EXPECT_EQ(library->init(context, library->sha256(), nullptr), 1);
  EXPECT_EQ(library->update(context, "abc", 3), 1);
  EXPECT_EQ(library->final(context, digest, &size), 1);
  library->freeContext(context);
  EXPECT_EQ(size, 32u);
  EXPECT_EQ(digest[0], 0xba);  // SHA-256("abc") begins ba7816bf
  EXPECT_EQ(digest[3], 0xbf);
}

struct Refused {
  const char* library;  // which loader: "curl" or "crypto"
  const char* soname;
  const char* reason;  // a part of the reason given
};

void PrintTo(const Refused& refused, std::ostream* out) {
  *out << refused.library << " from " << refused.soname;
}

class SharedLibraryRefusalTest : public testing::TestWithParam<Refused> {};

TEST_P(SharedLibraryRefusalTest, ALibraryThatCannotServeIsRefusedWithItsNameAndWhy) {
  std::string why;
  bool loaded = true;
  if (std::string(GetParam().library) == "curl") {
    http::CurlLibrary functions{};
    loaded = http::CurlLibrary::Load(GetParam().soname, &functions, &why);
  } else {
    CryptoLibrary functions{};
    loaded = CryptoLibrary::Load(GetParam().soname, &functions, &why);
  }
  EXPECT_FALSE(loaded);
  EXPECT_NE(why.find(GetParam().soname), std::string::npos) << why;
  EXPECT_NE(why.find(GetParam().reason), std::string::npos) << why;
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, SharedLibraryRefusalTest,
    testing::Values(
        Refused{"curl", "libcurl-that-is-not-installed.so.4", "cannot open shared object"},
        Refused{"curl", "libc.so.6", "has no curl_global_init: not libcurl"},
        Refused{"crypto", "libcrypto-that-is-not-installed.so.3", "cannot open shared object"},
        Refused{"crypto", "libc.so.6", "has no EVP_MD_CTX_new: not libcrypto"}));

}  // namespace
}  // namespace RXM
