// MultiFile and the sums file beside its archive: read once, then held
// against entries read whole (ExtractToFile, CheckEntrySum).
#include <algorithm>
#include <vector>

#include "backends/HttpFile.h"
#include "files/Failure.h"
#include "files/Sha256.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/ArchiveSums.h"
#include "multifile/MultiFile.h"

namespace {

// The text of the sums file at `url`, fetched whole.
RXM::Status FetchSums(const std::string& url, std::string* text) {
  Pointer<HttpFile> file(new HttpFile());
  if (!file->OpenFile(url.c_str(), "rb")) {
    return file->GetStatus();
  }
  text->assign(file->GetFileSize(), '\0');
  if (!text->empty() &&
      file->ReadData(&(*text)[0], 1, static_cast<unsigned int>(text->size())) != text->size()) {
    return file->GetReadFailure();
  }
  return RXM::Status::Ok();
}

// Ok when the sum that `digest()` gives is the line of `name` in `table`;
// kNoSuchEntry, before anything is read, when the table has no such line;
// kDamaged, naming `subject` and both sums, otherwise.
template <class Digest>
RXM::Status CompareSum(const RXM::SumsTable& table, const std::string& name,
                       const std::string& subject, Digest digest) {
  const auto line = table.byName.find(name);
  if (line == table.byName.end()) {
    return RXM::Status(RXM::ErrorCode::kNoSuchEntry, subject + ": not in the sums file");
  }
  const std::string actual = digest();
  return actual == line->second ? RXM::Status::Ok() : RXM::Damaged(subject, line->second, actual);
}

}  // namespace

RXM::Status MultiFile::LoadSums() {
  if (archiveFile.IsNull()) {
    return RXM::Failure(RXM::ErrorCode::kNotOpen, archiveName.GetText());
  }
  const std::string file = RXM::SumsPathOf(archiveName.GetText());
  std::vector<RXM::EntrySum> lines;
  RXM::Status read;
  if (archiveFile->FindInterface("HttpFile") != nullptr) {
    std::string text;
    read = FetchSums(file, &text);
    if (read.IsOk()) {
      read = RXM::ParseSums(text, file, &lines);
    }
  } else {
    read = RXM::ReadSums(*system, file, &lines);
  }
  if (!read.IsOk()) {
    return read;
  }
  auto table = std::make_shared<RXM::SumsTable>();
  for (RXM::EntrySum& line : lines) {
    table->byName[line.name] = std::move(line.hex);
  }
  sums = std::move(table);
  return RXM::Status::Ok();
}

RXM::Status MultiFile::CheckBytes(const MultiFileElement& element, const void* data,
                                  std::size_t size) const {
  if (!sums) {
    return RXM::Status::Ok();
  }
  return CompareSum(*sums, element.name, EntrySubject(element),
                    [&] { return RXM::Sha256::HexOf(data, size); });
}

RXM::Status MultiFile::CheckEntrySum(const String& name) const {
  if (!sums) {
    return RXM::Status::Ok();
  }
  RXM::ErrorCode code = RXM::ErrorCode::kOk;
  const MultiFileElement* element = FindWhole(name.GetText(), code);
  if (element == nullptr) {
    return Explain(code, name.GetText(), element);
  }
  RXM::Status why = RXM::Status::Ok();
  const std::string subject = EntrySubject(*element);
  const RXM::Status compared = CompareSum(*sums, element->name, subject, [&] {
    Pointer<KYFile> entry = StreamOver(*element, &why);
    if (entry.IsNull()) {
      return std::string();
    }
    // Read in blocks and digested as they come: the entry is never held whole.
    RXM::Sha256 digest;
    const std::uint32_t size = RXM::kymf::EntrySize(*element);
    std::vector<char> block(std::min<std::size_t>(1u << 20, size + std::size_t{1}));
    std::uint64_t done = 0;
    for (unsigned int got;
         (got = entry->ReadData(block.data(), 1, static_cast<unsigned int>(block.size()))) > 0;) {
      digest.Update(block.data(), got);
      done += got;
    }
    if (done != size) {
      why = RXM::Failure(RXM::ErrorCode::kReadFailed, subject);
      return std::string();
    }
    return RXM::Sha256::Hex(digest.Finish());
  });
  return why.IsOk() ? compared : why;
}
