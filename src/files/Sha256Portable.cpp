#include "files/Sha256Portable.h"

#include <algorithm>
#include <cstring>

namespace RXM {
namespace {

// The first 32 bits of the fractional parts of the cube roots of the first
// 64 primes.
constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// The first 32 bits of the fractional parts of the square roots of the first
// 8 primes.
constexpr std::uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

std::uint32_t Rotate(std::uint32_t value, int bits) {
  return (value >> bits) | (value << (32 - bits));
}

std::uint32_t BigEndian32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
         static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

}  // namespace

Sha256Portable::Sha256Portable() {
  Begin();
}

void Sha256Portable::Begin() {
  std::memcpy(state.data(), kInitial, sizeof kInitial);
  pendingSize = 0;
  length = 0;
}

void Sha256Portable::Compress(const std::uint8_t* block) {
  std::uint32_t schedule[64];
  for (std::size_t i = 0; i < 16; ++i) {
    schedule[i] = BigEndian32(block + 4 * i);
  }
  for (std::size_t i = 16; i < 64; ++i) {
    const std::uint32_t s0 =
        Rotate(schedule[i - 15], 7) ^ Rotate(schedule[i - 15], 18) ^ (schedule[i - 15] >> 3);
    const std::uint32_t s1 =
        Rotate(schedule[i - 2], 17) ^ Rotate(schedule[i - 2], 19) ^ (schedule[i - 2] >> 10);
    schedule[i] = schedule[i - 16] + s0 + schedule[i - 7] + s1;
  }
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (std::size_t i = 0; i < 64; ++i) {
    const std::uint32_t t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) +
                             ((e & f) ^ (~e & g)) + kRound[i] + schedule[i];
    const std::uint32_t t2 =
        (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

void Sha256Portable::Update(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  length += size;
  while (size > 0) {
    if (pendingSize == 0 && size >= pending.size()) {
      Compress(bytes);  // whole blocks straight from the caller's bytes
      bytes += pending.size();
      size -= pending.size();
      continue;
    }
    const std::size_t taken = std::min(size, pending.size() - pendingSize);
    std::memcpy(pending.data() + pendingSize, bytes, taken);
    pendingSize += taken;
    bytes += taken;
    size -= taken;
    if (pendingSize == pending.size()) {
      Compress(pending.data());
      pendingSize = 0;
    }
  }
}

// The message, a 1 bit, zeros to 56 bytes past a block's start, and the
// length in bits as a 64-bit big-endian number.
Sha256Portable::Digest Sha256Portable::Finish() {
  const std::uint64_t bits = length * 8;
  std::uint8_t tail[72] = {0x80};
  const std::size_t zeros = (pendingSize < 56 ? 56 : 120) - pendingSize - 1;
  for (int i = 0; i < 8; ++i) {
    tail[1 + zeros + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  }
  Update(tail, 1 + zeros + 8);
  Digest digest{};
  for (std::size_t i = 0; i < state.size(); ++i) {
    for (int j = 0; j < 4; ++j) {
      digest[4 * i + j] = static_cast<std::uint8_t>(state[i] >> (24 - 8 * j));
    }
  }
  Begin();
  return digest;
}

}  // namespace RXM
