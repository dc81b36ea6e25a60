#include "multifile/NameIndex.h"

#include <cstddef>
#include <cstdlib>
#include <new>

#include "backends/System.h"
#include "files/LittleEndian.h"
#include "multifile/ArchiveFormat.h"

namespace RXM {
namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101u;
constexpr std::uint64_t kHighBits = 0x8080808080808080u;

// Eight bytes at once under the ASCII fold: a byte from 'A' to 'Z' gains
// 0x20, every other byte (those from 0x80 up included) stays as it is.
std::uint64_t FoldWord(std::uint64_t word) {
  const std::uint64_t low = word & ~kHighBits;  // no carry can leave a byte
  const std::uint64_t fromA = low + kOnes * (0x80 - 'A');
  const std::uint64_t pastZ = low + kOnes * (0x80 - 'Z' - 1);
  const std::uint64_t upper = fromA & ~pastZ & ~word & kHighBits;
  return word | (upper >> 2);
}

// The index of the first zero byte of `word`, its bytes counted from the
// lowest, or 8 when it has none. (Bytes above the first zero may be flagged
// falsely by the borrow; the lowest flag is exact.)
unsigned FirstZeroByte(std::uint64_t word) {
  const std::uint64_t zeros = (word - kOnes) & ~word & kHighBits;
  if (zeros == 0) {
    return 8;
  }
#if defined(__GNUC__)
  return static_cast<unsigned>(__builtin_ctzll(zeros)) / 8;
#else
  unsigned byte = 0;
  while (((zeros >> (8 * byte)) & 0x80u) == 0) {
    ++byte;
  }
  return byte;
#endif
}

std::uint64_t Mix(std::uint64_t hash, std::uint64_t word) {
  hash = (hash ^ word) * 0x9E3779B97F4A7C15u;
  return hash ^ (hash >> 29);
}

// The final avalanche of MurmurHash3, so that every bit of every byte
// reaches the bits that choose a slot and those kept in it.
std::uint64_t Finish(std::uint64_t hash) {
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCDu;
  hash ^= hash >> 33;
  hash *= 0xC4CEB9FE1A85EC53u;
  return hash ^ (hash >> 33);
}

}  // namespace

void NameIndex::Free::operator()(std::uint32_t* memory) const {
  std::free(memory);
}

// A record's name is hashed eight bytes at a time straight from the record,
// its end found in the same words: the name's NUL lies within its 70 bytes,
// so no word reaches past the padding that follows them (byte 72), and the
// bytes from the NUL on (which a record read from a file may fill with
// anything) are masked away.
std::uint64_t NameIndex::Hash(const DirectoryRecord& record) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&record);
  std::uint64_t hash = 0x243F6A8885A308D3u;
  std::size_t done = 0;
  for (; done < multifile::kNameSize; done += 8) {
    std::uint64_t word = LittleEndian::Decode64(bytes + done);
    const unsigned zero = FirstZeroByte(word);
    if (zero < 8) {
      word &= zero == 0 ? 0 : ~std::uint64_t{0} >> (64 - 8 * zero);
      return Finish(Mix(hash, FoldWord(word)) ^ (done + zero));
    }
    hash = Mix(hash, FoldWord(word));
  }
  return Finish(hash ^ done);  // not reached: every record's name ends
}

std::uint64_t NameIndex::Hash(const char* name) {
  return Hash(multifile::NewRecord(name));
}

NameIndex::NameIndex(std::int32_t count) {
  const std::uint64_t records = count > 0 ? static_cast<std::uint64_t>(count) : 0;
  // At most 0.7 full, and never full: a probe always meets an empty slot.
  // calloc: a table this large comes fresh from the system, already zero,
  // and is not cleared again.
  const std::uint64_t wanted = records * 10 / 7 + 2;
  if (wanted > SIZE_MAX / sizeof(std::uint32_t) || wanted > UINT32_MAX) {
    throw std::bad_alloc();
  }
  size = static_cast<std::uint32_t>(wanted);
  slots.reset(static_cast<std::uint32_t*>(std::calloc(size, sizeof(std::uint32_t))));
  if (slots == nullptr) {
    throw std::bad_alloc();
  }
  sys::AdviseLargeBlock(slots.get(), size * sizeof(std::uint32_t));
  while (entryMask < records) {
    entryMask = (entryMask << 1) | 1;
  }
}

NameIndex::NameIndex(const PointerArray<MultiFileElement>& directory)
    : NameIndex(directory.GetCount()) {
  // The elements are long out of the cache when the index is built, and the
  // hardware's own fetching ahead starts again at each 4 KiB page of the slab
  // (39 elements): each element is asked for a few before its name is hashed
  // (a build of 10^6 went from 43-57 to 35-39 ms).
  const std::int32_t count = directory.GetCount();
  for (std::int32_t i = 0; i < count; ++i) {
#if defined(__GNUC__)
    if (i + kAhead < count) {
      __builtin_prefetch(directory.Peek(i + kAhead));
    }
#endif
    if (directory.Peek(i) != nullptr) {
      Add(i, directory);
    }
  }
  Complete(directory);
}

// The slot chosen by the hash's upper half, spread over the table without a
// division; the tag is taken from its lower half.
std::uint32_t NameIndex::Home(std::uint64_t hash) const {
  return static_cast<std::uint32_t>(((hash >> 32) * size) >> 32);
}

std::uint32_t NameIndex::Tag(std::uint64_t hash) const {
  return static_cast<std::uint32_t>(hash) & ~entryMask;
}

void NameIndex::Add(std::int32_t entry, const PointerArray<MultiFileElement>& directory) {
  const std::uint64_t hash = Hash(*directory.Peek(entry));
#if defined(__GNUC__)
  __builtin_prefetch(&slots[Home(hash)], 1);
#endif
  if (waitingCount == kAhead) {
    Place(waiting[oldest], directory);
    waiting[oldest] = Waiting{entry, hash};
    oldest = (oldest + 1) % kAhead;
  } else {
    waiting[(oldest + waitingCount) % kAhead] = Waiting{entry, hash};
    ++waitingCount;
  }
}

void NameIndex::Complete(const PointerArray<MultiFileElement>& directory) {
  for (; waitingCount > 0; --waitingCount) {
    Place(waiting[oldest], directory);
    oldest = (oldest + 1) % kAhead;
  }
}

void NameIndex::Place(const Waiting& record, const PointerArray<MultiFileElement>& directory) {
  const std::uint32_t tag = Tag(record.hash);
  const char* name = directory.Peek(record.entry)->name;
  std::uint32_t slot = Home(record.hash);
  for (;;) {
    const std::uint32_t held = slots[slot];
    // A later record of an equal name takes the slot over.
    if (held == 0 ||
        ((held & ~entryMask) == tag &&
         multifile::NameMatches(name, *directory.Peek(static_cast<int>(held & entryMask) - 1)))) {
      slots[slot] = tag | static_cast<std::uint32_t>(record.entry + 1);
      return;
    }
    slot = slot + 1 == size ? 0 : slot + 1;
  }
}

int NameIndex::Find(const char* name, const PointerArray<MultiFileElement>& directory) const {
  const std::uint64_t hash = Hash(name);
  const std::uint32_t tag = Tag(hash);
  std::uint32_t slot = Home(hash);
  for (std::uint32_t held = slots[slot]; held != 0; held = slots[slot]) {
    const std::int32_t index = static_cast<std::int32_t>(held & entryMask) - 1;
    if ((held & ~entryMask) == tag && index < directory.GetCount() &&
        directory.Peek(index) != nullptr && multifile::NameMatches(name, *directory.Peek(index))) {
      return index;
    }
    slot = slot + 1 == size ? 0 : slot + 1;
  }
  return -1;
}

}  // namespace RXM
