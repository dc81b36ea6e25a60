#include "backends/ResourceImage.h"

#include <utility>

namespace RXM {

namespace {

constexpr std::uint16_t kMz = 0x5A4D;
constexpr std::uint32_t kPe = 0x00004550;
constexpr std::uint16_t kPe32 = 0x10B;
constexpr std::uint16_t kPe32Plus = 0x20B;
constexpr std::uint32_t kSectionHeader = 40;

std::string Truncated(std::uint32_t size, const char* what, std::uint64_t end) {
  return "truncated at byte " + std::to_string(size) + " (" + what + " ends at byte " +
         std::to_string(end) + ")";
}

std::string Hex(std::uint32_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return "0x" + text;
}

}  // namespace

ErrorCode ResourceImage::ReadHeaders(ByteSpan image, ImageHeaders& headers, std::string& reason) {
  std::uint16_t magic = 0;
  std::uint32_t peOffset = 0, signature = 0;
  if (!image.U16(0, magic) || magic != kMz) {
    reason = image.size == 0 ? "empty file" : "no MZ signature";
    return ErrorCode::kNotAModule;
  }
  if (!image.U32(0x3C, peOffset)) {
    reason = Truncated(image.size, "the MS-DOS header", 0x40);
    return ErrorCode::kDamagedModule;
  }
  if (!image.U32(peOffset, signature)) {
    reason = Truncated(image.size, "the PE signature", peOffset + 4ull);
    return ErrorCode::kDamagedModule;
  }
  if (signature != kPe) {
    reason = "no PE signature at byte " + std::to_string(peOffset);
    return ErrorCode::kNotAModule;
  }
  const std::uint64_t coff = peOffset + 4ull, optional = coff + 20;
  std::uint16_t optionalSize = 0, optionalMagic = 0;
  if (!image.U16(coff + 2, headers.sectionCount) || !image.U16(coff + 16, optionalSize) ||
      !image.U16(optional, optionalMagic)) {
    reason = Truncated(image.size, "the COFF header", optional + 2);
    return ErrorCode::kDamagedModule;
  }
  if (optionalMagic != kPe32 && optionalMagic != kPe32Plus) {
    reason = "unknown optional header magic " + Hex(optionalMagic);
    return ErrorCode::kDamagedModule;
  }
  headers.wide = optionalMagic == kPe32Plus;
  const std::uint64_t directories = optionalMagic == kPe32 ? 96 : 112;
  std::uint32_t directoryCount = 0;
  if (directories > optionalSize) {
    reason = "optional header of " + std::to_string(optionalSize) + " bytes, too short";
    return ErrorCode::kDamagedModule;
  }
  if (!image.U32(optional + directories - 4, directoryCount)) {
    reason = Truncated(image.size, "the optional header", optional + directories);
    return ErrorCode::kDamagedModule;
  }
  const std::uint64_t table = optional + optionalSize;
  if (!image.Has(table, std::uint64_t{kSectionHeader} * headers.sectionCount)) {
    reason = Truncated(image.size, "the section table",
                       table + std::uint64_t{kSectionHeader} * headers.sectionCount);
    return ErrorCode::kDamagedModule;
  }
  headers.sectionTable = static_cast<std::uint32_t>(table);
  image.U32(optional + 56, headers.imageSize);
  headers.resourceRva = 0;
  const std::uint64_t entry = optional + directories + 16;  // data directory 2
  if (directoryCount > 2 && entry + 8 <= table) {
    image.U32(entry, headers.resourceRva);
  }
  return ErrorCode::kOk;
}

ErrorCode ResourceImage::Load(std::vector<std::uint8_t> bytes, std::string& reason) {
  file = std::move(bytes);
  sections.clear();
  tree = ByteSpan();
  resourceFault.clear();
  const ByteSpan image{file.data(), static_cast<std::uint32_t>(file.size())};
  ImageHeaders headers;
  ErrorCode code = ErrorCode::kNotAModule;
  if (file.size() > kLargestModule) {
    reason = "larger than 2 GiB";
  } else {
    code = ReadHeaders(image, headers, reason);
  }
  if (code != ErrorCode::kOk) {
    file.clear();
    return code;
  }
  for (std::uint16_t i = 0; i < headers.sectionCount; ++i) {
    const std::uint8_t* at =
        file.data() + headers.sectionTable + std::size_t{kSectionHeader} * std::size_t{i};
    const Section section{LittleEndian::Decode32(at + 12), LittleEndian::Decode32(at + 16),
                          LittleEndian::Decode32(at + 20)};
    sections.push_back(section);
    const std::uint64_t end = std::uint64_t{section.rawOffset} + section.rawSize;
    if (section.rawSize != 0 && end > file.size() && resourceFault.empty()) {
      resourceFault = Truncated(image.size, ("section " + std::to_string(i + 1)).c_str(), end);
    }
  }
  FindTree(headers.resourceRva);
  return ErrorCode::kOk;
}

const ResourceImage::Section* ResourceImage::SectionOf(std::uint32_t rva) const {
  for (const Section& section : sections) {
    if (rva >= section.virtualAddress && rva - section.virtualAddress < section.rawSize) {
      return &section;
    }
  }
  return nullptr;
}

void ResourceImage::FindTree(std::uint32_t rva) {
  if (rva == 0) {
    return;
  }
  const Section* section = SectionOf(rva);
  std::uint64_t offset = file.size();  // outside the file unless a section holds it
  if (section != nullptr) {
    offset = std::uint64_t{section->rawOffset} + (rva - section->virtualAddress);
  }
  if (section == nullptr || offset >= file.size()) {
    if (resourceFault.empty()) {
      resourceFault = "resource directory outside the image";
    }
    return;
  }
  const std::uint64_t inSection = section->rawSize - (rva - section->virtualAddress);
  const std::uint64_t inFile = file.size() - offset;
  tree.data = file.data() + offset;
  tree.size = static_cast<std::uint32_t>(inSection < inFile ? inSection : inFile);
}

const std::uint8_t* ResourceImage::At(std::uint32_t rva, std::uint32_t length) const {
  std::uint64_t offset = 0;
  return FileOffset(rva, length, offset) ? file.data() + offset : nullptr;
}

bool ResourceImage::FileOffset(std::uint32_t rva, std::uint32_t length,
                               std::uint64_t& offset) const {
  for (const Section& section : sections) {
    const std::uint64_t start = section.virtualAddress, backed = section.rawSize;
    if (rva >= start && rva - start <= backed && length <= backed - (rva - start)) {
      offset = section.rawOffset + (rva - start);
      return offset + length <= file.size();
    }
  }
  return false;
}

}  // namespace RXM
