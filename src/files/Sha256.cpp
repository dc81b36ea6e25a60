#include "files/Sha256.h"

#include <new>

#if defined(_WIN32)
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>
#else
#include "files/CryptoLibrary.h"
#include "files/Sha256Portable.h"
#endif

namespace RXM {

#if defined(_WIN32)

// One algorithm provider for the process (BCrypt's own advice: opening one is
// costly), and a reusable hash object per digest.
struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
};

namespace {

BCRYPT_ALG_HANDLE Provider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr,
                                BCRYPT_HASH_REUSABLE_FLAG);
    return opened;
  }();
  return provider;
}

}  // namespace

Sha256::Sha256() : state(new State) {
  if (Provider() == nullptr || BCryptCreateHash(Provider(), &state->hash, nullptr, 0, nullptr, 0,
                                                BCRYPT_HASH_REUSABLE_FLAG) != 0) {
    throw std::bad_alloc();
  }
}

Sha256::~Sha256() {
  BCryptDestroyHash(state->hash);
}

void Sha256::Update(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {  // BCrypt takes a ULONG at a time
    const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
    BCryptHashData(state->hash, const_cast<PUCHAR>(bytes), piece, 0);
    bytes += piece;
    size -= piece;
  }
}

Sha256::Digest Sha256::Finish() {
  Digest digest{};
  BCryptFinishHash(state->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
  return digest;
}

#else

// libcrypto's digest where it can be loaded, the portable one where not.
struct Sha256::State {
  const CryptoLibrary* crypto = nullptr;
  EVP_MD_CTX* context = nullptr;
  Sha256Portable portable;
};

Sha256::Sha256() : state(new State) {
  std::string why;  // no use for it: without libcrypto, the portable digest
  state->crypto = CryptoLibrary::Get(&why);
  if (state->crypto == nullptr) {
    return;
  }
  state->context = state->crypto->newContext();
  if (state->context == nullptr ||
      state->crypto->init(state->context, state->crypto->sha256(), nullptr) != 1) {
    state->crypto->freeContext(state->context);
    throw std::bad_alloc();
  }
}

Sha256::~Sha256() {
  if (state->crypto != nullptr) {
    state->crypto->freeContext(state->context);
  }
}

void Sha256::Update(const void* data, std::size_t size) {
  if (state->crypto == nullptr) {
    state->portable.Update(data, size);
    return;
  }
  state->crypto->update(state->context, data, size);
}

Sha256::Digest Sha256::Finish() {
  if (state->crypto == nullptr) {
    return state->portable.Finish();
  }
  Digest digest{};
  unsigned int length = 0;
  state->crypto->final(state->context, digest.data(), &length);
  state->crypto->init(state->context, state->crypto->sha256(), nullptr);
  return digest;
}

#endif

std::string Sha256::Hex(const Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (const std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

std::string Sha256::HexOf(const void* data, std::size_t size) {
  Sha256 digest;
  digest.Update(data, size);
  return Hex(digest.Finish());
}

}  // namespace RXM
