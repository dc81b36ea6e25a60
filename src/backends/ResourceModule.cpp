#include "backends/ResourceModule.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#if defined(_WIN32)

#include "backends/ResourceBytes.h"

namespace RXM {

bool ResourceBytesReadable(const void* bytes, std::uint32_t size) {
  if (bytes == nullptr) {
    return false;
  }
  const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(bytes);
  const std::uintptr_t end = begin + size;
  if (end < begin) {
    return false;
  }
  // One query per region of like pages, so a long resource costs few calls.
  std::uintptr_t at = begin;
  while (at < end) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof region) == 0 ||
        region.State != MEM_COMMIT || (region.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0) {
      return false;
    }
    at = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
  }
  return true;
}

namespace {

// Copies `out` from `offset` bytes past `base`; false if a byte is unreadable.
template <typename T>
bool Copy(const std::uint8_t* base, std::uint32_t offset, T& out) {
  if (!ResourceBytesReadable(base + offset, sizeof out)) {
    return false;
  }
  std::memcpy(&out, base + offset, sizeof out);
  return true;
}

// A module's first byte: a module loaded as a data file or as an image
// resource is marked in its handle's low bits (1: the file as it lies on
// disk, 2: laid out as an image).
const std::uint8_t* ModuleBase(HINSTANCE module) {
  return reinterpret_cast<const std::uint8_t*>(reinterpret_cast<std::uintptr_t>(module) &
                                               ~static_cast<std::uintptr_t>(3));
}

bool LaidOutAsFile(HINSTANCE module) {
  return (reinterpret_cast<std::uintptr_t>(module) & 3) == 1;
}

// Whether this is a 32-bit process and the module a 64-bit one whose headers
// and section table are all there.
bool SixtyFourBitInAThirtyTwoBitProcess(HINSTANCE module) {
  if (sizeof(void*) != 4) {
    return false;
  }
  const std::uint8_t* base = ModuleBase(module);
  IMAGE_DOS_HEADER dos;
  IMAGE_NT_HEADERS64 nt;
  if (!Copy(base, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0 ||
      !Copy(base, static_cast<std::uint32_t>(dos.e_lfanew), nt) ||
      nt.Signature != IMAGE_NT_SIGNATURE ||
      nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    return false;
  }
  const std::uint32_t table = static_cast<std::uint32_t>(dos.e_lfanew) + 4 + sizeof nt.FileHeader +
                              nt.FileHeader.SizeOfOptionalHeader;
  return ResourceBytesReadable(
      base + table,
      static_cast<std::uint32_t>(nt.FileHeader.NumberOfSections * sizeof(IMAGE_SECTION_HEADER)));
}

}  // namespace

HINSTANCE LoadResourceModule(const char* path) {
  HINSTANCE module =
      LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module != nullptr || GetLastError() != ERROR_BAD_EXE_FORMAT) {
    return module;
  }
  // A 32-bit process under Wine cannot lay out a 64-bit image. Such a module
  // is read as its file lies on disk, which the resource functions also
  // serve; every other module that the system refused stays refused.
  module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module != nullptr && !SixtyFourBitInAThirtyTwoBitProcess(module)) {
    FreeLibrary(module);
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return nullptr;
  }
  return module;
}

bool FreeResourceModule(HINSTANCE module) {
  return module != nullptr && FreeLibrary(module);
}

namespace {

struct Listing {
  void (*visit)(const ResourceInfo&, void*);
  void* context;
  int count;
  const char* type;
  const char* name;
};

void Describe(const char* id, char (&out)[260]) {
  if (IS_INTRESOURCE(id)) {
    std::snprintf(out, sizeof out, "#%u", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(id)));
  } else {
    std::snprintf(out, sizeof out, "%s", id);
  }
}

BOOL CALLBACK OnLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language, LONG_PTR param) {
  Listing& listing = *reinterpret_cast<Listing*>(param);
  ResourceInfo info{};
  Describe(type, info.type);
  Describe(name, info.name);
  info.language = language;
  HRSRC found = FindResourceExA(module, type, name, language);
  info.size = found != nullptr ? SizeofResource(module, found) : 0;
  HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
  info.bytes = loaded != nullptr ? static_cast<const std::uint8_t*>(LockResource(loaded)) : nullptr;
  if (!ResourceBytesReadable(info.bytes, info.size)) {
    info.bytes = nullptr;
  }
  listing.visit(info, listing.context);
  ++listing.count;
  return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
  EnumResourceLanguagesA(module, type, name, OnLanguage, param);
  return TRUE;
}

BOOL CALLBACK OnType(HMODULE module, LPSTR type, LONG_PTR param) {
  EnumResourceNamesA(module, type, OnName, param);
  return TRUE;
}

// Windows walks a module's resource tree without checking where its offsets
// lead, so a hostile module would crash EnumResource*. Before they run, the
// tree is walked here with every read checked: directories at the type and
// name levels, data entries at the language level, and every name string.
class TreeCheck {
 public:
  explicit TreeCheck(HINSTANCE module) {
    const std::uint8_t* base = ModuleBase(module);
    IMAGE_DOS_HEADER dos;
    if (!Copy(base, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) {
      return;
    }
    const std::uint32_t headers = static_cast<std::uint32_t>(dos.e_lfanew);
    IMAGE_NT_HEADERS32 nt32;
    IMAGE_NT_HEADERS64 nt64;
    IMAGE_DATA_DIRECTORY resources{};
    if (!Copy(base, headers, nt32) || nt32.Signature != IMAGE_NT_SIGNATURE) {
      return;
    }
    if (nt32.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
      if (nt32.OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_RESOURCE) {
        return;
      }
      resources = nt32.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
    } else if (nt32.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC &&
               Copy(base, headers, nt64)) {
      if (nt64.OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_RESOURCE) {
        return;
      }
      resources = nt64.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
    } else {
      return;
    }
    if (resources.VirtualAddress == 0) {
      safe = true;  // no resources: nothing to walk
      return;
    }
    std::uint32_t rootAt = resources.VirtualAddress;
    if (LaidOutAsFile(module) && !FileOffset(base, headers, nt32.FileHeader, rootAt)) {
      return;
    }
    root = base + rootAt;
    safe = Directory(0, 0);
  }

  bool Safe() const { return safe; }

 private:
  // Turns `at` from an address in the image into the offset in the file that
  // holds it, through the section table, as the system does for a module
  // laid out as its file.
  static bool FileOffset(const std::uint8_t* base, std::uint32_t headers,
                         const IMAGE_FILE_HEADER& file, std::uint32_t& at) {
    const std::uint32_t table = headers + 4 + sizeof file + file.SizeOfOptionalHeader;
    for (std::uint32_t i = 0; i < file.NumberOfSections; ++i) {
      IMAGE_SECTION_HEADER section;
      if (!Copy(base, table + i * sizeof section, section)) {
        return false;
      }
      if (at >= section.VirtualAddress && at - section.VirtualAddress < section.SizeOfRawData) {
        at = at - section.VirtualAddress + section.PointerToRawData;
        return true;
      }
    }
    return false;
  }

  // The directory at `offset` from the tree's root, at `level` (0: types,
  // 1: names, 2: languages). A directory that two entries lead to is refused:
  // no compiler writes one, and Windows would list all that lies under it
  // once per entry, so a small module could list billions of resources.
  bool Directory(std::uint32_t offset, int level) {
    if (!walked.insert(offset).second) {
      return false;
    }
    IMAGE_RESOURCE_DIRECTORY directory;
    if (!Copy(root, offset, directory)) {
      return false;
    }
    const std::uint32_t count =
        std::uint32_t{directory.NumberOfNamedEntries} + directory.NumberOfIdEntries;
    for (std::uint32_t i = 0; i < count; ++i) {
      IMAGE_RESOURCE_DIRECTORY_ENTRY entry;
      if (!Copy(root, offset + sizeof directory + i * sizeof entry, entry)) {
        return false;
      }
      if (entry.NameIsString && !NameString(entry.NameOffset)) {
        return false;
      }
      const bool isDirectory = entry.DataIsDirectory != 0;
      if (isDirectory != (level < 2)) {
        return false;
      }
      IMAGE_RESOURCE_DATA_ENTRY data;
      if (isDirectory ? !Directory(entry.OffsetToDirectory, level + 1)
                      : !Copy(root, entry.OffsetToData, data)) {
        return false;
      }
    }
    return true;
  }

  bool NameString(std::uint32_t offset) const {
    WORD length = 0;
    return Copy(root, offset, length) &&
           ResourceBytesReadable(root + offset + sizeof length, length * 2u);
  }

  const std::uint8_t* root = nullptr;
  bool safe = false;
  std::set<std::uint32_t> walked;  // the offsets of the directories walked
};

}  // namespace

int ListResources(HINSTANCE module, void (*visit)(const ResourceInfo&, void*), void* context) {
  if (module == nullptr || !TreeCheck(module).Safe()) {
    return -1;
  }
  Listing listing{visit, context, 0, nullptr, nullptr};
  EnumResourceTypesA(module, OnType, reinterpret_cast<LONG_PTR>(&listing));
  return listing.count;
}

}  // namespace RXM

#else  // not Windows: our own reader of PE images

// A module is read whole into memory and checked once:
//
//   "MZ" header, e_lfanew at 0x3C -> "PE\0\0", the COFF header (20 bytes),
//   the optional header (magic 0x10B for PE32, 0x20B for PE32+) whose data
//   directory 2 gives the RVA of the resource directory, and the section
//   table, through which every RVA is mapped to a file offset.
//
// The resource tree has three levels, type -> name -> language, each an
// IMAGE_RESOURCE_DIRECTORY (16 bytes, named entries then ID entries) of
// 8-byte entries; a name string is a 16-bit length and UTF-16 characters; a
// leaf is a 16-byte data entry (RVA, size, code page, reserved). Offsets
// inside the tree are from the tree's root.
//
// Nothing in the image is trusted: every offset, count, length and RVA is
// checked against the bytes that back it, a lookup descends exactly three
// levels (an entry that points back up the tree, or a directory where a leaf
// belongs, finds nothing), so a hostile module can neither make a read fall
// outside the image nor make a lookup loop.

struct ResourceModuleImage {
  std::vector<std::uint8_t> image;
  struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t virtualSize;
    std::uint32_t rawSize;
    std::uint32_t rawOffset;
  };
  std::vector<Section> sections;
  bool hasResources = false;
  std::uint32_t rootOffset = 0;  // file offset of the tree's root
  std::uint32_t rootLength = 0;  // bytes of the section behind it
};

namespace {

// Modules that LoadResourceModule returned and that are not freed yet.
std::set<const ResourceModuleImage*>& LiveModules() {
  static std::set<const ResourceModuleImage*> live;
  return live;
}

bool Live(HINSTANCE module) {
  return module != nullptr && LiveModules().count(module) != 0;
}

// Reads of the image that are refused (false) outside it.
class Reader {
 public:
  Reader(const std::uint8_t* start, std::uint64_t length) : bytes(start), size(length) {}
  bool Has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size && length <= size - offset;
  }
  bool U16(std::uint64_t offset, std::uint16_t& value) const {
    if (!Has(offset, 2))
      return false;
    value = static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
    return true;
  }
  bool U32(std::uint64_t offset, std::uint32_t& value) const {
    if (!Has(offset, 4))
      return false;
    value = static_cast<std::uint32_t>(bytes[offset]) |
            static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
            static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
            static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
    return true;
  }

 private:
  const std::uint8_t* bytes;
  std::uint64_t size;
};

// The file offset of `length` bytes at `rva`, if the raw data of one section
// back all of them.
bool MapRva(const ResourceModuleImage& module, std::uint32_t rva, std::uint32_t length,
            std::uint32_t& offset) {
  for (const ResourceModuleImage::Section& section : module.sections) {
    const std::uint64_t start = section.virtualAddress;
    const std::uint64_t backed = section.rawSize;
    if (rva >= start && rva - start <= backed && length <= backed - (rva - start)) {
      const std::uint64_t file = static_cast<std::uint64_t>(section.rawOffset) + (rva - start);
      if (file + length > module.image.size()) {
        return false;
      }
      offset = static_cast<std::uint32_t>(file);
      return true;
    }
  }
  return false;
}

bool Parse(ResourceModuleImage& module) {
  const Reader image(module.image.data(), module.image.size());
  std::uint16_t magic = 0;
  std::uint32_t peOffset = 0, signature = 0;
  if (!image.U16(0, magic) || magic != 0x5A4D || !image.U32(0x3C, peOffset) ||
      !image.U32(peOffset, signature) || signature != 0x00004550) {
    return false;
  }
  const std::uint64_t coff = static_cast<std::uint64_t>(peOffset) + 4;
  std::uint16_t sectionCount = 0, optionalSize = 0, optionalMagic = 0;
  if (!image.U16(coff + 2, sectionCount) || !image.U16(coff + 16, optionalSize) ||
      !image.U16(coff + 20, optionalMagic)) {
    return false;
  }
  std::uint64_t directories = 0;
  if (optionalMagic == 0x10B) {
    directories = 96;
  } else if (optionalMagic == 0x20B) {
    directories = 112;
  } else {
    return false;
  }
  const std::uint64_t optional = coff + 20;
  std::uint32_t directoryCount = 0;
  if (!image.U32(optional + directories - 4, directoryCount) || directories > optionalSize) {
    return false;
  }
  const std::uint64_t sectionTable = optional + optionalSize;
  if (!image.Has(sectionTable, 40ull * sectionCount)) {
    return false;
  }
  for (std::uint16_t i = 0; i < sectionCount; ++i) {
    const std::uint64_t at = sectionTable + 40ull * i;
    ResourceModuleImage::Section section{};
    image.U32(at + 8, section.virtualSize);
    image.U32(at + 12, section.virtualAddress);
    image.U32(at + 16, section.rawSize);
    image.U32(at + 20, section.rawOffset);
    module.sections.push_back(section);
  }
  std::uint32_t resourceRva = 0, resourceSize = 0;
  const std::uint64_t entry = optional + directories + 16;  // data directory 2
  if (directoryCount > 2 && entry + 8 <= optional + optionalSize && image.U32(entry, resourceRva) &&
      image.U32(entry + 4, resourceSize) && resourceRva != 0 &&
      MapRva(module, resourceRva, 16, module.rootOffset)) {
    // The tree may use the rest of the section that holds it.
    for (const ResourceModuleImage::Section& section : module.sections) {
      if (resourceRva >= section.virtualAddress &&
          resourceRva - section.virtualAddress < section.rawSize) {
        module.rootLength = section.rawSize - (resourceRva - section.virtualAddress);
      }
    }
    if (module.rootOffset + static_cast<std::uint64_t>(module.rootLength) > module.image.size()) {
      module.rootLength = static_cast<std::uint32_t>(module.image.size() - module.rootOffset);
    }
    module.hasResources = true;
  }
  return true;
}

// A request for one level of the tree: an integer ID or an upper-cased name.
struct Key {
  bool isId = false;
  std::uint16_t id = 0;
  std::u16string name;
};

// RtlCharToInteger in base 10: leading blanks (any byte up to ' '), one sign,
// decimal digits up to the first other character, wrapping at 32 bits. The
// value must fit in 16 bits (a negative one does not).
bool ParseIdString(const char* text, std::uint16_t& id) {
  while (*text != '\0' && static_cast<unsigned char>(*text) <= ' ')
    ++text;
  bool negative = false;
  if (*text == '+') {
    ++text;
  } else if (*text == '-') {
    negative = true;
    ++text;
  }
  std::uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10u + static_cast<std::uint32_t>(*text - '0');
  }
  if (negative)
    value = 0u - value;
  if (value > 0xFFFFu)
    return false;
  id = static_cast<std::uint16_t>(value);
  return true;
}

// Bytes are taken as Latin-1 characters and upper-cased as Windows upper-cases
// them (ASCII and Latin-1 letters), since resource compilers store names
// upper-cased.
char16_t UpperCase(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
    return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF)
    return u'\u0178';
  if (c == 0xB5)
    return u'\u039C';
  return c;
}

bool MakeKey(const char* text, Key& key) {
  const auto raw = reinterpret_cast<std::uintptr_t>(text);
  if (raw <= 0xFFFFu) {  // MAKEINTRESOURCE
    key.isId = true;
    key.id = static_cast<std::uint16_t>(raw);
    return true;
  }
  if (text[0] == '#') {
    key.isId = true;
    return ParseIdString(text + 1, key.id);
  }
  for (const char* c = text; *c != '\0'; ++c) {
    key.name.push_back(UpperCase(static_cast<unsigned char>(*c)));
  }
  return true;
}

// The tree, read through bounds-checked offsets from its root.
class Tree {
 public:
  explicit Tree(const ResourceModuleImage& owner)
      : module(owner), reader(owner.image.data() + owner.rootOffset, owner.rootLength) {}

  // The number of entries of the directory at `directory`, or false.
  bool Entries(std::uint32_t directory, std::uint32_t& named, std::uint32_t& total) const {
    std::uint16_t n = 0, ids = 0;
    if (!reader.U16(directory + 12ull, n) || !reader.U16(directory + 14ull, ids))
      return false;
    named = n;
    total = static_cast<std::uint32_t>(n) + ids;
    return reader.Has(directory + 16ull, 8ull * total);
  }
  // Entry `i`: its name field and its offset field.
  void Entry(std::uint32_t directory, std::uint32_t i, std::uint32_t& name,
             std::uint32_t& target) const {
    reader.U32(directory + 16ull + 8ull * i, name);
    reader.U32(directory + 20ull + 8ull * i, target);
  }
  bool NameString(std::uint32_t offset, std::u16string& text) const {
    std::uint16_t length = 0;
    if (!reader.U16(offset, length) || !reader.Has(offset + 2ull, 2ull * length))
      return false;
    text.clear();
    for (std::uint32_t i = 0; i < length; ++i) {
      std::uint16_t c = 0;
      reader.U16(offset + 2ull + 2ull * i, c);
      text.push_back(static_cast<char16_t>(c));
    }
    return true;
  }
  bool Matches(std::uint32_t name, const Key& key) const {
    if (key.isId)
      return (name & 0x80000000u) == 0 && (name & 0xFFFFu) == key.id && name <= 0xFFFFu;
    std::u16string stored;
    return (name & 0x80000000u) != 0 && NameString(name & 0x7FFFFFFFu, stored) &&
           stored == key.name;
  }
  // The offset (from the root) of the entry of `directory` that `key` finds,
  // if it is of the wanted kind (a subdirectory, or a data entry).
  bool Find(std::uint32_t directory, const Key& key, bool wantDirectory,
            std::uint32_t& found) const {
    std::uint32_t named = 0, total = 0;
    if (!Entries(directory, named, total))
      return false;
    for (std::uint32_t i = key.isId ? named : 0; i < (key.isId ? total : named); ++i) {
      std::uint32_t name = 0, target = 0;
      Entry(directory, i, name, target);
      if (Matches(name, key)) {
        return Kind(target, wantDirectory, found);
      }
    }
    return false;
  }
  // The first entry of the wanted kind.
  bool First(std::uint32_t directory, bool wantDirectory, std::uint32_t& found) const {
    std::uint32_t named = 0, total = 0;
    if (!Entries(directory, named, total))
      return false;
    for (std::uint32_t i = 0; i < total; ++i) {
      std::uint32_t name = 0, target = 0;
      Entry(directory, i, name, target);
      if (Kind(target, wantDirectory, found))
        return true;
    }
    return false;
  }
  bool Kind(std::uint32_t target, bool wantDirectory, std::uint32_t& found) const {
    if (((target & 0x80000000u) != 0) != wantDirectory)
      return false;
    found = target & 0x7FFFFFFFu;
    return reader.Has(found, 16);
  }
  // The data entry at `offset`: its RVA and size.
  void Data(std::uint32_t offset, std::uint32_t& rva, std::uint32_t& size) const {
    reader.U32(offset, rva);
    reader.U32(offset + 4ull, size);
  }
  const ResourceModuleImage& module;
  Reader reader;
};

// A handle to a data entry: the module and the entry's offset in the tree,
// kept in the module so that the handle lives as long as the module.
struct FoundResource {
  HINSTANCE module;
  std::uint32_t entry;
};

std::vector<FoundResource*>& Handles(HINSTANCE module);

}  // namespace

namespace {

struct ModuleHandles {
  HINSTANCE module;
  std::vector<FoundResource*> handles;
};

std::vector<ModuleHandles>& AllHandles() {
  static std::vector<ModuleHandles> all;
  return all;
}

std::vector<FoundResource*>& Handles(HINSTANCE module) {
  for (ModuleHandles& entry : AllHandles()) {
    if (entry.module == module)
      return entry.handles;
  }
  AllHandles().push_back({module, {}});
  return AllHandles().back().handles;
}

// The data entry that a handle names, if the handle is one of the module's.
const FoundResource* Resolve(HINSTANCE module, HRSRC resource) {
  if (!Live(module) || resource == nullptr)
    return nullptr;
  for (FoundResource* handle : Handles(module)) {
    if (reinterpret_cast<HRSRC>(handle) == resource)
      return handle;
  }
  return nullptr;
}

}  // namespace

HRSRC FindResourceA(HINSTANCE module, const char* name, const char* type) {
  if (!Live(module) || !module->hasResources || name == nullptr || type == nullptr)
    return nullptr;
  Key typeKey, nameKey;
  if (!MakeKey(type, typeKey) || !MakeKey(name, nameKey))
    return nullptr;
  const Tree tree(*module);
  std::uint32_t names = 0, languages = 0, data = 0;
  if (!tree.Find(0, typeKey, true, names) || !tree.Find(names, nameKey, true, languages))
    return nullptr;
  // A neutral request from a US English user: neutral, then US English, then
  // English, then whatever language comes first.
  bool found = false;
  for (std::uint16_t language :
       {std::uint16_t{0x0000}, std::uint16_t{0x0409}, std::uint16_t{0x0009}}) {
    Key languageKey;
    languageKey.isId = true;
    languageKey.id = language;
    if (tree.Find(languages, languageKey, false, data)) {
      found = true;
      break;
    }
  }
  if (!found && !tree.First(languages, false, data))
    return nullptr;
  std::vector<FoundResource*>& handles = Handles(module);
  for (FoundResource* handle : handles) {
    if (handle->entry == data)
      return reinterpret_cast<HRSRC>(handle);
  }
  handles.push_back(new FoundResource{module, data});
  return reinterpret_cast<HRSRC>(handles.back());
}

HGLOBAL LoadResource(HINSTANCE module, HRSRC resource) {
  const FoundResource* found = Resolve(module, resource);
  if (found == nullptr)
    return nullptr;
  const Tree tree(*module);
  std::uint32_t rva = 0, size = 0, offset = 0;
  tree.Data(found->entry, rva, size);
  if (!MapRva(*module, rva, size, offset))
    return nullptr;
  return const_cast<std::uint8_t*>(module->image.data() + offset);
}

std::uint32_t SizeofResource(HINSTANCE module, HRSRC resource) {
  const FoundResource* found = Resolve(module, resource);
  if (found == nullptr)
    return 0;
  std::uint32_t rva = 0, size = 0;
  Tree(*module).Data(found->entry, rva, size);
  return size;
}

void* LockResource(HGLOBAL loaded) {
  return loaded;
}

int FreeResource(HGLOBAL) {
  return 0;
}

namespace RXM {

HINSTANCE LoadResourceModule(const char* path) {
  if (path == nullptr)
    return nullptr;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr)
    return nullptr;
  auto* module = new ResourceModuleImage();
  std::uint8_t chunk[65536];
  std::size_t read = 0;
  while ((read = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    module->image.insert(module->image.end(), chunk, chunk + read);
  }
  const bool failed = std::ferror(file) != 0;
  (void)std::fclose(file);
  if (failed || module->image.size() > 0x7FFFFFFFu || !Parse(*module)) {
    delete module;
    return nullptr;
  }
  LiveModules().insert(module);
  return module;
}

bool FreeResourceModule(HINSTANCE module) {
  if (!Live(module))
    return false;
  LiveModules().erase(module);
  std::vector<ModuleHandles>& all = AllHandles();
  for (auto it = all.begin(); it != all.end(); ++it) {
    if (it->module == module) {
      for (FoundResource* handle : it->handles)
        delete handle;
      all.erase(it);
      break;
    }
  }
  delete module;
  return true;
}

namespace {

void Describe(const Tree& tree, std::uint32_t name, char (&out)[260]) {
  if ((name & 0x80000000u) == 0) {
    (void)std::snprintf(out, sizeof out, "#%u", static_cast<unsigned>(name & 0xFFFFu));
    return;
  }
  std::u16string text;
  tree.NameString(name & 0x7FFFFFFFu, text);
  std::size_t i = 0;
  for (; i < text.size() && i + 1 < sizeof out; ++i) {
    out[i] = text[i] < 0x100 ? static_cast<char>(text[i]) : '?';
  }
  out[i] = '\0';
}

}  // namespace

int ListResources(HINSTANCE module, void (*visit)(const ResourceInfo&, void*), void* context) {
  if (!Live(module))
    return -1;
  if (!module->hasResources)
    return 0;
  const Tree tree(*module);
  int visited = 0;
  // A directory that an earlier entry already led to is not listed again: no
  // compiler shares directories, and a hostile module that did could list
  // each resource once per path to it, billions of times over.
  std::set<std::uint32_t> listed = {0};
  std::uint32_t typeNamed = 0, typeTotal = 0;
  if (!tree.Entries(0, typeNamed, typeTotal))
    return 0;
  for (std::uint32_t t = 0; t < typeTotal; ++t) {
    std::uint32_t typeName = 0, typeTarget = 0, names = 0;
    tree.Entry(0, t, typeName, typeTarget);
    std::uint32_t nameNamed = 0, nameTotal = 0;
    if (!tree.Kind(typeTarget, true, names) || !listed.insert(names).second ||
        !tree.Entries(names, nameNamed, nameTotal)) {
      continue;
    }
    for (std::uint32_t n = 0; n < nameTotal; ++n) {
      std::uint32_t name = 0, nameTarget = 0, languages = 0;
      tree.Entry(names, n, name, nameTarget);
      std::uint32_t languageNamed = 0, languageTotal = 0;
      if (!tree.Kind(nameTarget, true, languages) || !listed.insert(languages).second ||
          !tree.Entries(languages, languageNamed, languageTotal)) {
        continue;
      }
      for (std::uint32_t l = 0; l < languageTotal; ++l) {
        std::uint32_t language = 0, languageTarget = 0, data = 0;
        tree.Entry(languages, l, language, languageTarget);
        if (!tree.Kind(languageTarget, false, data))
          continue;
        ResourceInfo info{};
        Describe(tree, typeName, info.type);
        Describe(tree, name, info.name);
        info.language = static_cast<std::uint16_t>(language & 0xFFFFu);
        std::uint32_t rva = 0, offset = 0;
        tree.Data(data, rva, info.size);
        info.bytes =
            MapRva(*module, rva, info.size, offset) ? module->image.data() + offset : nullptr;
        visit(info, context);
        ++visited;
      }
    }
  }
  return visited;
}

}  // namespace RXM

#endif
