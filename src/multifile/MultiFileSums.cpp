// MultiFile and the sums file beside its archive: read once, then held
// against entries read whole (ExtractToFile, CheckEntrySum).
#include <algorithm>
#include <vector>

#include "backends/HttpFile.h"
#include "files/Sha256.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/ArchiveStatus.h"
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

}  // namespace

RXM::Status MultiFile::LoadSums() {
  if (archiveFile.IsNull()) {
    return RXM::kymf::Failure(RXM::ErrorCode::kNotOpen, archiveName.GetText());
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
  const auto line = sums->byName.find(element.name);
  if (line == sums->byName.end()) {
    return RXM::Status(RXM::ErrorCode::kNoSuchEntry,
                       EntrySubject(element) + ": not in the sums file");
  }
  const std::string actual = RXM::Sha256::HexOf(data, size);
  return actual == line->second ? RXM::Status::Ok()
                                : RXM::Damaged(EntrySubject(element), line->second, actual);
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
  RXM::Status why;
  Pointer<KYFile> entry = StreamOver(*element, &why);
  if (entry.IsNull()) {
    return why;
  }
  // Read in blocks and digested as they come: the entry is never held whole.
  RXM::Sha256 digest;
  std::vector<char> block(std::min<std::size_t>(1u << 20, RXM::kymf::EntrySize(*element) + 1u));
  std::uint64_t done = 0;
  for (unsigned int got;
       (got = entry->ReadData(block.data(), 1, static_cast<unsigned int>(block.size()))) > 0;) {
    digest.Update(block.data(), got);
    done += got;
  }
  if (done != RXM::kymf::EntrySize(*element)) {
    return RXM::kymf::Failure(RXM::ErrorCode::kReadFailed, EntrySubject(*element));
  }
  const auto line = sums->byName.find(element->name);
  if (line == sums->byName.end()) {
    return RXM::Status(RXM::ErrorCode::kNoSuchEntry,
                       EntrySubject(*element) + ": not in the sums file");
  }
  const std::string actual = RXM::Sha256::Hex(digest.Finish());
  return actual == line->second ? RXM::Status::Ok()
                                : RXM::Damaged(EntrySubject(*element), line->second, actual);
}
