// The portable SHA-256, which digests where libcrypto cannot be loaded:
// FIPS 180-4's own examples, and the same digests as the library's Sha256
// (libcrypto here) for bytes given in pieces of every size around a block.
#include "files/Sha256Portable.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "files/Sha256.h"

namespace RXM {
namespace {

std::string HexOf(const std::string& bytes) {
  Sha256Portable digest;
  digest.Update(bytes.data(), bytes.size());
  return Sha256::Hex(digest.Finish());
}

TEST(Sha256PortableTest, GivesTheStandardsExamples) {
  EXPECT_EQ(HexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(HexOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(HexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(HexOf(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Lengths on both sides of the padding's edges (55, 56, 63, 64 bytes into a
// block), each given whole and in random pieces; the object is reused
// after each Finish, as Sha256's callers reuse theirs.
TEST(Sha256PortableTest, DigestsAsTheLibrarysSha256WhateverThePieces) {
  std::mt19937 random(7);
  std::vector<char> bytes(300);
  for (char& byte : bytes) {
    byte = static_cast<char>(random());
  }
  Sha256Portable portable;
  Sha256 library;
  for (std::size_t length = 0; length <= bytes.size(); ++length) {
    library.Update(bytes.data(), length);
    const std::string expected = Sha256::Hex(library.Finish());
    for (std::size_t at = 0; at < length;) {
      const std::size_t piece = std::min<std::size_t>(length - at, random() % 70);
      portable.Update(bytes.data() + at, piece);
      at += piece;
    }
    EXPECT_EQ(Sha256::Hex(portable.Finish()), expected) << length;
  }
}

}  // namespace
}  // namespace RXM
