#include "multifile/MultiFileWriter.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unordered_set>

#include "backends/DiskFile.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/MultiFile.h"
#include "multifile/ReplacementFile.h"

struct MultiFileWriter::Entry {
  std::string name;
  Pointer<KYFile> source;  // null for bytes in memory
  String inputName;
  std::vector<std::uint8_t> bytes;
  std::uint32_t size = 0;
  bool diskFile = false;  // source is a DiskFile of our own over the path inputName
};

namespace {

using namespace RXM::kymf;

std::string Folded(const char* name) {
  std::string folded(name);
  for (char& c : folded) {
    c = static_cast<char>(FoldByte(static_cast<unsigned char>(c)));
  }
  return folded;
}

// Copies `size` bytes from `from` into the replacement in chunks, each read as
// one item.
bool Copy(KYFile& from, std::uint32_t size, std::vector<std::uint8_t>& chunk,
          RXM::ReplacementFile& to) {
  while (size > 0) {
    const std::uint32_t part =
        size < chunk.size() ? size : static_cast<std::uint32_t>(chunk.size());
    if (from.ReadData(chunk.data(), part, 1) != 1 || !to.Write(chunk.data(), part)) {
      return false;
    }
    size -= part;
  }
  return true;
}

}  // namespace

MultiFileWriter::MultiFileWriter(const String& name, bool keep, std::uint32_t chunk)
    : archiveName(name), keepExisting(keep), chunkSize(chunk == 0 ? 1 : chunk) {}

MultiFileWriter::~MultiFileWriter() {
  for (Entry* entry : entries) {
    delete entry;
  }
}

void MultiFileWriter::AddFile(const String& entryName, const String& path) {
  AddFile(entryName, Pointer<KYFile>(new DiskFile()), path);
  entries.back()->diskFile = true;
}

void MultiFileWriter::AddFile(const String& entryName, Pointer<KYFile> source,
                              const String& inputName) {
  entries.push_back(new Entry{entryName.GetText(), source, inputName, {}, 0});
}

void MultiFileWriter::AddBytes(const String& entryName, const void* data, std::uint32_t size) {
  const auto* begin = static_cast<const std::uint8_t*>(data);
  entries.push_back(new Entry{entryName.GetText(), Pointer<KYFile>(), String(),
                              std::vector<std::uint8_t>(begin, begin + size), size});
}

void MultiFileWriter::SetProgress(void (*callback)(int, int, void*), void* context) {
  progress = callback;
  progressContext = context;
}

int MultiFileWriter::GetCount() const {
  return static_cast<int>(entries.size());
}

const char* MultiFileWriter::GetError() const {
  return error.c_str();
}

bool MultiFileWriter::Fail(const std::string& message) {
  error = std::string(archiveName.GetText()) + ": " + message;
  return false;
}

// Everything that can be refused is checked before the first byte is
// written: names, sizes and the existing archive. The data are then copied in
// one pass; inputs are opened once to learn their sizes and again to copy.
bool MultiFileWriter::Commit() {
  error.clear();
  MultiFile existing;
  std::int32_t kept = 0;
  if (keepExisting) {
    if (!existing.OpenMultiFile(Pointer<KYFile>(), archiveName)) {
      return Fail("cannot be read as an archive");
    }
    kept = existing.GetDirectory().GetCount();
  }
  const PointerArray<MultiFileElement>& directory = existing.GetDirectory();

  std::unordered_set<std::string> names;
  for (std::int32_t i = 0; i < kept; ++i) {
    names.insert(Folded(directory.Peek(i)->name));
  }
  std::int64_t total =
      kHeaderSize + kRecordSize * (kept + static_cast<std::int64_t>(entries.size()));
  for (std::int32_t i = 0; i < kept; ++i) {
    total += EntrySize(*directory.Peek(i));
  }
  for (Entry* entry : entries) {
    if (entry->name.empty() || entry->name.size() > kLongestName) {
      return Fail("entry name \"" + entry->name + "\" is empty or longer than 69 characters");
    }
    if (!names.insert(Folded(entry->name.c_str())).second) {
      return Fail("entry name \"" + entry->name + "\" is already taken (letter case is ignored)");
    }
    if (entry->diskFile) {
      // One stat instead of an open, a measure and a close: packing
      // thousands of small files is mostly such calls.
      std::error_code failed;
      const std::uintmax_t size = std::filesystem::file_size(entry->inputName.GetText(), failed);
      if (failed) {
        return Fail(std::string("cannot open ") + entry->inputName.GetText());
      }
      entry->size = size > static_cast<std::uintmax_t>(kLargestArchive)
                        ? static_cast<std::uint32_t>(kLargestArchive) + 1u
                        : static_cast<std::uint32_t>(size);
    } else if (!entry->source.IsNull()) {
      if (!entry->source->OpenFile(entry->inputName, "rb")) {
        return Fail(std::string("cannot open ") + entry->inputName.GetText());
      }
      entry->size = entry->source->GetFileSize();
      entry->source->CloseFile();
    }
    if (entry->size == 0) {
      return Fail("entry \"" + entry->name + "\" would be empty");
    }
    total += entry->size;
  }
  if (total > kLargestArchive) {
    return Fail("the archive would exceed 2,147,483,647 bytes");
  }

  // The existing entries' bytes come straight from the archive's file, by
  // index, each from its own offsets.
  Pointer<DiskFile> old;
  if (kept > 0) {
    old = new DiskFile();
    if (!old->OpenFile(archiveName, "rb")) {
      return Fail("cannot be read");
    }
    const std::int64_t oldSize = old->GetFileSize();
    for (std::int32_t i = 0; i < kept; ++i) {
      const MultiFileElement& element = *directory.Peek(i);
      const std::uint32_t size = EntrySize(element);
      if (size == 0 || element.dataStart < 0 ||
          element.dataStart + static_cast<std::int64_t>(size) > oldSize) {
        return Fail(std::string("entry \"") + element.name + "\" cannot be read whole");
      }
    }
  }

  RXM::ReplacementFile replacement(archiveName);
  if (!replacement.Open()) {
    return Fail(std::string("cannot create ") + replacement.TemporaryName().GetText());
  }
  auto abandon = [&](const std::string& message) {
    replacement.Discard();
    return Fail(message);
  };
  const std::int32_t count = kept + static_cast<std::int32_t>(entries.size());
  std::uint8_t bytes[kRecordSize];
  EncodeInt32(count, bytes);
  replacement.Write(kMagic, 4);
  replacement.Write(bytes, 4);
  std::int32_t dataStart = static_cast<std::int32_t>(kHeaderSize + kRecordSize * count);
  DirectoryRecord record;
  for (std::int32_t i = 0; i < count; ++i) {
    std::uint32_t size = 0;
    if (i < kept) {
      record = *directory.Peek(i);
      size = EntrySize(record);
    } else {
      const Entry& entry = *entries[static_cast<std::size_t>(i - kept)];
      std::memset(&record, 0, sizeof record);
      std::memcpy(record.name, entry.name.data(), entry.name.size());
      size = entry.size;
    }
    record.dataStart = dataStart;
    record.dataEnd = dataStart + static_cast<std::int32_t>(size) - 1;
    dataStart += static_cast<std::int32_t>(size);
    EncodeRecord(record, bytes);
    replacement.Write(bytes, sizeof bytes);
  }

  std::vector<std::uint8_t> chunk(chunkSize);
  int done = 0;
  for (std::int32_t i = 0; i < kept; ++i) {
    const MultiFileElement& element = *directory.Peek(i);
    if (!old->Seek(element.dataStart, 0) || !Copy(*old, EntrySize(element), chunk, replacement)) {
      return abandon(std::string("could not copy entry \"") + element.name + "\"");
    }
    if (progress != nullptr)
      progress(++done, count, progressContext);
  }
  for (Entry* entry : entries) {
    if (entry->source.IsNull()) {
      if (!replacement.Write(entry->bytes.data(), entry->size)) {
        return abandon("could not write the new archive");
      }
    } else {
      // The input must still hold exactly the bytes measured: all of them
      // read, and nothing after them.
      KYFile& source = *entry->source;
      std::uint8_t extra = 0;
      bool copied = source.OpenFile(entry->inputName, "rb");
      if (copied && entry->diskFile) {
        // Our own stream, read in large chunks: no buffer of its own needed.
        (void)std::setvbuf(static_cast<DiskFile&>(source).GetFilePointer(), nullptr, _IONBF, 0);
      }
      copied = copied && Copy(source, entry->size, chunk, replacement) &&
               source.ReadData(&extra, 1, 1) == 0;
      source.CloseFile();
      if (!copied) {
        return abandon(std::string("could not copy ") + entry->inputName.GetText() +
                       " (changed or unreadable, or the disk is full)");
      }
    }
    if (progress != nullptr)
      progress(++done, count, progressContext);
  }
  if (!replacement.Finish()) {
    return abandon("could not write the new archive (is the disk full?)");
  }
  old = nullptr;
  existing.CloseMultiFile();
  if (!replacement.Replace()) {
    return abandon("could not put the new archive in place");
  }
  return true;
}
