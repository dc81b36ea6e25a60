// A Windows module's image as its file holds it: the PE headers, the section
// table, and the mapping of an address in the loaded image (an RVA) to the
// file's bytes. Bytes in, no files: the module reader and its fuzz target
// hand it whole files.
//
//   "MZ" header, e_lfanew at 0x3C -> "PE\0\0", the COFF header (20 bytes),
//   the optional header (magic 0x10B for PE32, 0x20B for PE32+) whose data
//   directory 2 gives the RVA of the resource directory, then the section
//   table (40 bytes a section).
//
// Nothing in the bytes is trusted: every offset and count is checked against
// the bytes that back it.
#ifndef RXMFILES_BACKENDS_RESOURCEIMAGE_H
#define RXMFILES_BACKENDS_RESOURCEIMAGE_H

#include <cstdint>
#include <string>
#include <vector>

#include "files/LittleEndian.h"
#include "files/Status.h"

namespace RXM {

// A window of bytes whose reads are refused (false) outside it.
struct ByteSpan {
  const std::uint8_t* data = nullptr;
  std::uint32_t size = 0;

  bool Has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size && length <= size - offset;
  }
  bool U16(std::uint64_t offset, std::uint16_t& value) const {
    if (!Has(offset, 2)) {
      return false;
    }
    value = LittleEndian::Decode16(data + offset);
    return true;
  }
  bool U32(std::uint64_t offset, std::uint32_t& value) const {
    if (!Has(offset, 4)) {
      return false;
    }
    value = LittleEndian::Decode32(data + offset);
    return true;
  }
};

// The largest module file the reader takes, in bytes; no module is larger.
constexpr std::uint64_t kLargestModule = 0x7FFFFFFFu;

// What the headers say, as far as the resource reader needs it.
struct ImageHeaders {
  std::uint32_t sectionTable = 0;  // offset of the section table
  std::uint16_t sectionCount = 0;
  std::uint32_t resourceRva = 0;  // 0 when the module has no resource directory
  std::uint32_t imageSize = 0;    // bytes of the image once mapped
  bool wide = false;              // a PE32+ (64-bit) image
};

class ResourceImage {
 public:
  // Reads the headers at the start of `image` (a file, or a module the system
  // mapped: its headers are laid out alike). kOk; kNotAModule when there is
  // no "MZ" or no "PE\0\0" signature; kDamagedModule when the headers are cut
  // short or inconsistent. `reason` says which, for people.
  static ErrorCode ReadHeaders(ByteSpan image, ImageHeaders& headers, std::string& reason);

  // Takes the module file `bytes` and reads its headers and section table.
  // The result and `reason` as for ReadHeaders; on failure the image is
  // empty.
  ErrorCode Load(std::vector<std::uint8_t> bytes, std::string& reason);

  // The bytes of the file that hold `length` bytes at `rva`, or null when the
  // raw data of one section do not back all of them.
  const std::uint8_t* At(std::uint32_t rva, std::uint32_t length) const;
  // Where those bytes lie in the file: true with `offset` set, false as At
  // gives null. For a caller that holds the file's bytes elsewhere too.
  bool FileOffset(std::uint32_t rva, std::uint32_t length, std::uint64_t& offset) const;

  // The resource tree: its root up to the end of the raw data of the section
  // that holds it. Empty when the module has none or it lies outside the file.
  ByteSpan Tree() const { return tree; }

  // Why the resources cannot all be read although the headers could be:
  // "resource directory outside the image", "truncated at byte N: ..."; ""
  // when nothing is known to be wrong.
  const std::string& ResourceFault() const { return resourceFault; }

 private:
  struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t rawSize;
    std::uint32_t rawOffset;
  };
  const Section* SectionOf(std::uint32_t rva) const;
  void FindTree(std::uint32_t rva);

  std::vector<std::uint8_t> file;
  std::vector<Section> sections;
  ByteSpan tree;
  std::string resourceFault;
};

}  // namespace RXM

#endif  // RXMFILES_BACKENDS_RESOURCEIMAGE_H
