// An archive and the sums file beside it: read once, then held against
// entries read whole (ExtractToFile, CheckEntrySum, the search path, the mount).
#include <algorithm>
#include <vector>

#include "backends/HttpFile.h"
#include "files/Failure.h"
#include "files/Sha256.h"
#include "multifile/ArchiveCore.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/ArchiveSums.h"

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

namespace RXM {
namespace multifile {

Status ArchiveCore::LoadSums(std::shared_ptr<const SumsTable>* table) const {
  const std::string path = SumsPathOf(name);
  std::vector<EntrySum> lines;
  Status read;
  if (remote) {
    std::string text;
    read = FetchSums(path, &text);
    if (read.IsOk()) {
      read = ParseSums(text, path, &lines);
    }
  } else {
    read = ReadSums(system, path, &lines);
  }
  if (!read.IsOk()) {
    return read;
  }
  auto loaded = std::make_shared<SumsTable>();
  for (EntrySum& line : lines) {
    loaded->byName[line.name] = std::move(line.hex);
  }
  *table = std::move(loaded);
  return Status::Ok();
}

Status ArchiveCore::CheckBytes(const SumsTable* sums, const MultiFileElement& element,
                               const void* data, std::size_t bytes) const {
  if (sums == nullptr) {
    return Status::Ok();
  }
  return CompareSum(*sums, element.name, Subject(element),
                    [&] { return Sha256::HexOf(data, bytes); });
}

Status ArchiveCore::CheckEntrySum(const SumsTable* sums, const char* wanted) const {
  if (sums == nullptr) {
    return Status::Ok();
  }
  ErrorCode code = ErrorCode::kOk;
  const MultiFileElement* element = Find(wanted, code);
  if (element == nullptr) {
    return Explain(code, wanted, element);
  }
  Status why = Status::Ok();
  const std::string subject = Subject(*element);
  const Status compared = CompareSum(*sums, element->name, subject, [&] {
    Pointer<KYFile> entry = OpenEntry(*element, &why);
    if (entry.IsNull()) {
      return std::string();
    }
    // Read in blocks and digested as they come: the entry is never held whole.
    Sha256 digest;
    const std::uint32_t entrySize = EntrySize(*element);
    std::vector<char> block(std::min<std::size_t>(1u << 20, entrySize + std::size_t{1}));
    std::uint64_t done = 0;
    for (unsigned int got;
         (got = entry->ReadData(block.data(), 1, static_cast<unsigned int>(block.size()))) > 0;) {
      digest.Update(block.data(), got);
      done += got;
    }
    if (done != entrySize) {
      why = Failure(ErrorCode::kReadFailed, subject);
      return std::string();
    }
    return Sha256::Hex(digest.Finish());
  });
  return why.IsOk() ? compared : why;
}

}  // namespace multifile
}  // namespace RXM
