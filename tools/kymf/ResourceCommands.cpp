// resources: the resources of a Windows module, listed (as text or JSON),
// one written out, or all of them extracted into a folder as TYPE/NAME.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "Commands.h"
#include "multifile/ArchiveFormat.h"
#include "support/NameEscaping.h"
#include "support/TargetFolder.h"

namespace kymf {
namespace {

struct Resource {
  std::string type;        // as people write it: "RCDATA", "#300", "MYTYPE"
  std::string storedType;  // as the module stores it: "#10", "MYTYPE"
  std::string name;
  unsigned language;
  std::uint32_t size;
  const std::uint8_t* bytes;
};

// A module loaded for the command's duration.
class Module {
 public:
  ~Module() {
    if (handle != nullptr) {
      RXM::FreeResourceModule(handle);
    }
  }
  bool Load(const std::string& path, Reporter& reporter) {
    RXM::Status status;
    handle = RXM::LoadResourceModule(path.c_str(), status);
    if (handle == nullptr) {
      reporter.Fail(status);
    }
    return handle != nullptr;
  }
  // Every resource of `language` (or all); false (reported) when the module's
  // resource tree is damaged, in which case nothing is listed.
  bool List(int language, std::vector<Resource>& resources, Reporter& reporter) const {
    RXM::Status status;
    const int count = RXM::ListResources(
        handle,
        [](const RXM::ResourceInfo& info, void* context) {
          static_cast<std::vector<Resource>*>(context)->push_back(
              Resource{RXM::ResourceTypeText(info.type), info.type, info.name, info.language,
                       info.size, info.bytes});
        },
        &resources, status, language);
    if (count < 0) {
      resources.clear();
      reporter.Fail(status);
      return false;
    }
    return true;
  }
  HINSTANCE Get() const { return handle; }

 private:
  HINSTANCE handle = nullptr;
};

// A language ID as given ("0x409", "1033"), or kAnyLanguage for "".
bool ParseLanguage(const std::string& text, int& language) {
  language = RXM::kAnyLanguage;
  if (text.empty()) {
    return true;
  }
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 0);
  if (*end != '\0' || value > 0xFFFF) {
    return false;
  }
  language = static_cast<int>(value);
  return true;
}

void PrintList(const std::vector<Resource>& resources, bool json) {
  if (json) {
    std::printf("[");
    const char* separator = "";
    for (const Resource& r : resources) {
      std::printf("%s\n  {\"type\": %s, \"name\": %s, \"language\": %u, \"size\": %lu}", separator,
                  JsonString(r.type).c_str(), JsonString(r.name).c_str(), r.language,
                  static_cast<unsigned long>(r.size));
      separator = ",";
    }
    std::printf("%s]\n", resources.empty() ? "" : "\n");
    return;
  }
  std::printf("%-16s %-24s %8s %10s\n", "TYPE", "NAME", "LANGUAGE", "SIZE");
  for (const Resource& r : resources) {
    std::printf("%-16s %-24s %#8x %10lu\n", EscapeName(r.type).c_str(), EscapeName(r.name).c_str(),
                r.language, static_cast<unsigned long>(r.size));
  }
}

// One path component from a type or a name: bytes that could not stand in
// a file name become "_", and "." or ".." get a leading "_".
std::string SafeComponent(const std::string& text) {
  std::string safe = text.substr(0, 100);
  for (char& c : safe) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '/' || c == '\\' || c == ':') {
      c = '_';
    }
  }
  return safe.empty() || safe == "." || safe == ".." ? "_" + safe : safe;
}

int ExtractAll(const std::vector<Resource>& resources, const Options& options, Reporter& reporter) {
  TargetFolder target;
  const RXM::Status opened = target.Open(options.folder);
  if (!opened.IsOk()) {
    reporter.Fail(opened);
    return kFailure;
  }
  std::map<std::string, int> uses;
  for (const Resource& r : resources) {
    ++uses[SafeComponent(r.type) + "/" + SafeComponent(r.name)];
  }
  std::uint64_t bytes = 0;
  int written = 0;
  for (const Resource& r : resources) {
    std::string name = SafeComponent(r.type) + "/" + SafeComponent(r.name);
    if (uses[name] > 1) {  // one name in several languages
      char suffix[16];
      (void)std::snprintf(suffix, sizeof suffix, ".%04x", r.language);
      name += suffix;
    }
    bool kept = false;
    const RXM::Status status = target.Place(
        name, TargetFolder::PolicyFor(options.force, options.keep),
        [&](const TargetFolder::Write& write) {
          write(r.bytes, r.size);
          return RXM::Status::Ok();
        },
        &kept);
    if (!status.IsOk()) {
      reporter.Fail(status);
      continue;
    }
    if (kept) {
      reporter.Verbose("kept " + EscapeName(target.Shown(name)));
      continue;
    }
    reporter.Verbose(EscapeName(name));
    ++written;
    bytes += r.size;
  }
  reporter.Summary("extracted", written, bytes);
  return reporter.ExitCode();
}

// Names and types as Windows compares them: ASCII letters without regard
// to case, a "#" form by its number ("#0010" is "#10").
std::string ResourceKeyText(const std::string& text) {
  if (text.size() > 1 && text[0] == '#') {
    char* end = nullptr;
    const unsigned long id = std::strtoul(text.c_str() + 1, &end, 10);
    if (*end == '\0' && id <= 0xFFFF) {
      return "#" + std::to_string(id);
    }
  }
  std::string key = text;
  for (char& c : key) {
    c = static_cast<char>(RXM::multifile::FoldByte(static_cast<unsigned char>(c)));
  }
  return key;
}

// The bytes of the one resource the command line names: of the language
// --lang gives (among `resources`, the module's resources of that language),
// or, without it, of the language Windows would pick. False (reported) when
// there is none.
bool FindOne(const Module& module, const std::vector<Resource>& resources, const Options& options,
             const std::string& type, std::vector<char>& bytes, Reporter& reporter) {
  const std::string shown = options.module + ": " + options.name + " (" + options.type + ")";
  if (!options.language.empty()) {
    const std::string typeKey = ResourceKeyText(type);
    const std::string nameKey = ResourceKeyText(options.name);
    for (const Resource& r : resources) {
      if (ResourceKeyText(r.storedType) == typeKey && ResourceKeyText(r.name) == nameKey) {
        bytes.assign(r.bytes, r.bytes + r.size);
        return true;
      }
    }
    reporter.Fail(shown + ", language " + options.language,
                  RXM::Describe(RXM::ErrorCode::kNoSuchResource));
    return false;
  }
  Pointer<ResourceFile> file(new ResourceFile());
  file->SetModule(module.Get());
  if (!file->OpenFile((options.name + "\n" + type).c_str(), "rb")) {
    reporter.Fail(shown, RXM::Describe(RXM::ErrorCode::kNoSuchResource));
    return false;
  }
  bytes.resize(file->GetFileSize());
  const unsigned int got = file->ReadData(bytes.data(), 1, static_cast<unsigned int>(bytes.size()));
  if (got != bytes.size()) {
    reporter.Fail(options.module, RXM::Describe(RXM::ErrorCode::kReadFailed));
    return false;
  }
  return true;
}

// -o FILE: written as extract writes a file (TargetFolder): never through a
// link, under a temporary name renamed into place, an existing file kept
// unless --force.
void WriteOutput(const std::vector<char>& bytes, const Options& options, Reporter& reporter) {
  const std::filesystem::path output(options.output);
  const std::string leaf = output.filename().string();
  if (leaf.empty() || leaf == "." || leaf == "..") {
    reporter.Fail(options.output, RXM::Describe(RXM::ErrorCode::kIsAFolder));
    return;
  }
  TargetFolder target;
  RXM::Status status = target.Open(output.parent_path().string());
  if (status.IsOk()) {
    bool kept = false;
    status = target.Place(
        leaf, TargetFolder::PolicyFor(options.force, options.keep),
        [&bytes](const TargetFolder::Write& write) {
          write(bytes.data(), bytes.size());
          return RXM::Status::Ok();
        },
        &kept);
    if (kept) {
      reporter.Verbose("kept " + EscapeName(options.output));
    }
  }
  if (!status.IsOk()) {
    reporter.Fail(status);
  }
}

int ExtractOne(const Module& module, const std::vector<Resource>& resources, const Options& options,
               Reporter& reporter) {
  std::string type;
  if (!RXM::ResourceTypeFromText(options.type.c_str(), type)) {
    reporter.Usage("resources: not a resource type: " + EscapeName(options.type));
    return kUsage;
  }
  std::vector<char> bytes;
  if (!FindOne(module, resources, options, type, bytes, reporter)) {
    return kFailure;
  }
  if (!options.output.empty()) {
    WriteOutput(bytes, options, reporter);
    return reporter.ExitCode();
  }
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
      std::fflush(stdout) != 0) {
    reporter.FailSystem("-", errno);
  }
  return reporter.ExitCode();
}

}  // namespace

int ResourcesCommand(const Options& options, Reporter& reporter) {
  int language = RXM::kAnyLanguage;
  if (!ParseLanguage(options.language, language)) {
    reporter.Usage("resources: --lang takes a language ID such as 0x409 or 1033");
    return kUsage;
  }
  if (options.force && options.keep) {
    reporter.Usage("resources: give --force or -k, not both");
    return kUsage;
  }
  if (!options.name.empty() && options.type.empty()) {
    reporter.Usage("resources: give both NAME and TYPE");
    return kUsage;
  }
  Module module;
  std::vector<Resource> resources;
  if (!module.Load(options.module, reporter) || !module.List(language, resources, reporter)) {
    return kFailure;
  }
  if (!options.name.empty()) {
    return ExtractOne(module, resources, options, reporter);
  }
  if (options.all) {
    return ExtractAll(resources, options, reporter);
  }
  PrintList(resources, options.json);
  return kSuccess;
}

}  // namespace kymf
