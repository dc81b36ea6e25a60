// kymf: create, list, add to, extract, verify KYMF archives, and look into the
// resources of Windows modules. Built on the library's public interface only.
#include <CLI/CLI.hpp>

#include <RXMFiles.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// Standard output for an entry's or a resource's bytes: on Windows it is put
// in binary mode, or every LF written would become CR LF.
std::FILE* BinaryStandardOutput() {
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  return stdout;
}

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;

bool gQuiet = false;

void Fail(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "kymf: %s: %s\n", file.c_str(), reason.c_str());
}

// The library reports through the framework's debugger; the tool words its
// own messages, so the library's are dropped.
class SilentDebugger : public Debugger {
 public:
  void Print(const char*, ...) override {}
  void PrintError(const char*, ...) override {}
};

// A progress bar on standard error, shown only on a terminal and only for
// work of many steps.
class Progress {
 public:
  Progress(const char* what, std::size_t steps)
      : verb(what), total(steps), shown(!gQuiet && total >= 50 && isatty(fileno(stderr))) {}
  ~Progress() {
    if (shown)
      std::fprintf(stderr, "\r%*s\r", 60, "");
  }
  void Step() {
    ++done;
    if (shown && (done % 10 == 0 || done == total)) {
      const int width = 30;
      const int filled = static_cast<int>(width * done / total);
      std::fprintf(stderr, "\r%s [%-*s] %zu/%zu", verb, width, std::string(filled, '#').c_str(),
                   done, total);
    }
  }

 private:
  const char* verb;
  std::size_t total;
  std::size_t done = 0;
  bool shown;
};

bool OpenArchive(MultiFile& archive, const std::string& path) {
  if (!fs::exists(path)) {
    Fail(path, "no such file");
    return false;
  }
  if (!archive.OpenMultiFile(Pointer<KYFile>(), path.c_str())) {
    Fail(path, "not a KYMF archive, or its directory is damaged (try kymf verify)");
    return false;
  }
  return true;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Files under each path, with the entry names they get: paths relative to the
// argument, '/'-separated; a file argument is named by its file name.
std::vector<std::pair<std::string, std::string>> Collect(const std::vector<std::string>& paths,
                                                         bool& ok) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& path : paths) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
      std::vector<std::pair<std::string, std::string>> found;
      for (const auto& item : fs::recursive_directory_iterator(path, error)) {
        if (item.is_regular_file()) {
          found.emplace_back(item.path().string(),
                             item.path().lexically_relative(path).generic_string());
        }
      }
      std::sort(found.begin(), found.end(),
                [](const auto& a, const auto& b) { return a.second < b.second; });
      files.insert(files.end(), found.begin(), found.end());
    } else if (fs::is_regular_file(path, error)) {
      files.emplace_back(path, fs::path(path).filename().generic_string());
    } else {
      Fail(path, "no such file or directory");
      ok = false;
    }
  }
  return files;
}

// Inserts `files` into the open archive one by one; false (with a message)
// at the first that fails.
bool InsertAll(MultiFile& archive, const std::string& archivePath,
               const std::vector<std::pair<std::string, std::string>>& files) {
  Progress progress("adding", files.size());
  for (const auto& [path, name] : files) {
    if (name.size() > 69) {
      Fail(path, "entry name longer than 69 characters: " + name);
      return false;
    }
    if (fs::file_size(path) == 0) {
      Fail(path, "empty files cannot be stored in a KYMF archive");
      return false;
    }
    try {
      if (!archive.InsertFile(Pointer<KYFile>(), path.c_str(), name.c_str())) {
        Fail(archivePath, "could not add " + path);
        return false;
      }
    } catch (Exception* e) {
      Fail(archivePath, std::string(e->GetText()).find("already exists") != std::string::npos
                            ? "an entry named " + name + " already exists"
                            : "could not add " + path + ": " + e->GetText());
      delete e;
      return false;
    }
    progress.Step();
  }
  return true;
}

// Writes `files` in one pass, after the existing entries when `keep`.
int WriteArchive(const std::string& archivePath,
                 const std::vector<std::pair<std::string, std::string>>& files, bool keep) {
  MultiFileWriter writer(archivePath.c_str(), keep);
  for (const auto& [path, name] : files)
    writer.AddFile(name.c_str(), path.c_str());
  Progress progress(keep ? "adding" : "packing", files.size());
  writer.SetProgress([](int, int, void* context) { static_cast<Progress*>(context)->Step(); },
                     &progress);
  if (!writer.Commit()) {
    std::fprintf(stderr, "kymf: %s\n", writer.GetError());
    return kFailure;
  }
  return kSuccess;
}

int Create(const std::string& archivePath, const std::vector<std::string>& paths) {
  bool ok = true;
  const auto files = Collect(paths, ok);
  if (!ok)
    return kFailure;
  if (files.empty()) {
    if (!MultiFile::CreateEmptyMultiFile(archivePath.c_str())) {
      Fail(archivePath, "cannot be written");
      return kFailure;
    }
  } else if (WriteArchive(archivePath, files, false) != kSuccess) {
    return kFailure;
  }
  if (!gQuiet)
    std::printf("created %s with %zu entries\n", archivePath.c_str(), files.size());
  return kSuccess;
}

int List(const std::string& archivePath, bool longFormat, bool json) {
  MultiFile archive;
  if (!OpenArchive(archive, archivePath))
    return kFailure;
  const PointerArray<MultiFileElement>& directory = archive.GetDirectory();
  if (json)
    std::printf("[");
  for (int i = 0; i < directory.GetCount(); ++i) {
    const Pointer<MultiFileElement> element = directory.GetAt(i);
    if (json) {
      std::printf("%s\n  {\"name\": %s, \"size\": %lld, \"dataStart\": %d, \"dataEnd\": %d}",
                  i ? "," : "", JsonString(element->name).c_str(),
                  static_cast<long long>(RXM::kymf::EntrySize(*element)), element->dataStart,
                  element->dataEnd);
    } else if (longFormat) {
      std::printf("%12lld %11d %11d  %s\n", static_cast<long long>(RXM::kymf::EntrySize(*element)),
                  element->dataStart, element->dataEnd, element->name);
    } else {
      std::printf("%.69s\n", element->name);
    }
  }
  if (json)
    std::printf("%s]\n", directory.GetCount() ? "\n" : "");
  return kSuccess;
}

int Add(const std::string& archivePath, const std::vector<std::string>& paths,
        const std::string& as) {
  if (!as.empty() && paths.size() != 1) {
    std::fprintf(stderr, "kymf: --as names one file: give exactly one FILE\n");
    return kUsage;
  }
  bool ok = true;
  auto files = Collect(paths, ok);
  if (!ok)
    return kFailure;
  if (!as.empty())
    files[0].second = as;
  MultiFile archive;
  if (!OpenArchive(archive, archivePath))
    return kFailure;
  return InsertAll(archive, archivePath, files) ? kSuccess : kFailure;
}

// Entry names come from whoever wrote the archive: a name that could reach
// outside the target folder is refused.
bool SafeName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\')
    return false;
  if (name.size() >= 2 && name[1] == ':')
    return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    const std::size_t end = name.find_first_of("/\\", start);
    const std::string part =
        name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part == "..")
      return false;
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return true;
}

int Extract(const std::string& archivePath, std::vector<std::string> entries,
            const std::string& folder, bool force) {
  MultiFile archive;
  if (!OpenArchive(archive, archivePath))
    return kFailure;
  if (entries.empty()) {
    const PointerArray<MultiFileElement>& directory = archive.GetDirectory();
    for (int i = 0; i < directory.GetCount(); ++i)
      entries.emplace_back(directory.GetAt(i)->name);
  }
  int result = kSuccess;
  Progress progress("extracting", entries.size());
  for (const std::string& name : entries) {
    progress.Step();
    if (!SafeName(name)) {
      Fail(archivePath,
           "refused to extract " + name + ": it would be written outside the target folder");
      result = kFailure;
      continue;
    }
    std::string relative = name;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const fs::path target = fs::path(folder.empty() ? "." : folder) / relative;
    if (!archive.OpenFile(name.c_str(), "rb")) {
      Fail(archivePath, "no entry named " + name);
      result = kFailure;
      continue;
    }
    if (fs::exists(target) && !force) {
      Fail(target.string(), "exists (use --force to overwrite)");
      result = kFailure;
      continue;
    }
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    if (!archive.ExtractToFile(target.string().c_str())) {
      Fail(target.string(), "could not extract " + name);
      result = kFailure;
    }
  }
  return result;
}

int Cat(const std::string& archivePath, const std::string& entry) {
  MultiFile archive;
  if (!OpenArchive(archive, archivePath))
    return kFailure;
  if (!archive.OpenFile(entry.c_str(), "rb")) {
    Fail(archivePath, "no entry named " + entry);
    return kFailure;
  }
  std::FILE* out = BinaryStandardOutput();
  char buffer[65536];
  unsigned int read = 0;
  while ((read = archive.ReadData(buffer, 1, sizeof buffer)) > 0) {
    std::fwrite(buffer, 1, read, out);
  }
  return std::fflush(out) == 0 ? kSuccess : kFailure;
}

int Verify(const std::string& archivePath) {
  int findings = 0;
  auto finding = [&](const std::string& text) {
    std::printf("%s: %s\n", archivePath.c_str(), text.c_str());
    ++findings;
  };
  Pointer<DiskFile> file(new DiskFile());
  if (!file->OpenFile(archivePath.c_str(), "rb")) {
    Fail(archivePath, "cannot be opened");
    return kFailure;
  }
  const std::int64_t fileSize = file->GetFileSize();
  unsigned char header[8] = {};
  if (file->ReadData(header, 8, 1) != 1 ||
      std::string(reinterpret_cast<char*>(header), 4) != "KYMF") {
    Fail(archivePath, "not a KYMF archive");
    return kFailure;
  }
  const std::int32_t count = RXM::kymf::DecodeInt32(header + 4);
  file = nullptr;
  if (count < 0) {
    finding("entryCount " + std::to_string(count) + " is negative");
    return kFailure;
  }
  if (8 + 80ll * count > fileSize) {
    finding("entryCount " + std::to_string(count) + " needs " + std::to_string(8 + 80ll * count) +
            " bytes of directory, but the file has " + std::to_string(fileSize));
    return kFailure;
  }
  MultiFile archive;
  if (!archive.OpenMultiFile(Pointer<KYFile>(), archivePath.c_str())) {
    finding("a directory record has a name without its terminating NUL");
    return kFailure;
  }
  const PointerArray<MultiFileElement>& directory = archive.GetDirectory();
  std::int64_t expectedStart = 8 + 80ll * count;
  std::map<std::string, std::string> folded;
  for (int i = 0; i < directory.GetCount(); ++i) {
    const Pointer<MultiFileElement> element = directory.GetAt(i);
    const std::string name = element->name;
    const std::string where = "entry " + std::to_string(i) + " (" + name + ")";
    const std::int64_t size = static_cast<std::int64_t>(element->dataEnd) - element->dataStart + 1;
    if (size < 0)
      finding(where + ": negative size (dataEnd " + std::to_string(element->dataEnd) +
              " before dataStart " + std::to_string(element->dataStart) + ")");
    if (element->dataStart < 0 || element->dataStart > fileSize ||
        static_cast<std::int64_t>(element->dataEnd) >= fileSize) {
      finding(where + ": data outside the file (" + std::to_string(element->dataStart) + " to " +
              std::to_string(element->dataEnd) + ", file has " + std::to_string(fileSize) +
              " bytes)");
    }
    if (element->dataStart != expectedStart) {
      finding(where + ": data start at " + std::to_string(element->dataStart) + ", expected " +
              std::to_string(expectedStart) + " (entries must follow each other)");
    }
    expectedStart = static_cast<std::int64_t>(element->dataEnd) + 1;
    std::string key = name;
    for (char& c : key)
      c = static_cast<char>(RXM::kymf::FoldByte(static_cast<unsigned char>(c)));
    const auto [it, inserted] = folded.emplace(key, name);
    if (!inserted)
      finding(where + ": name collides with " + it->second + " (letter case is ignored)");
  }
  if (expectedStart != fileSize) {
    finding("the last entry ends at " + std::to_string(expectedStart) + ", but the file has " +
            std::to_string(fileSize) + " bytes");
  }
  if (findings == 0 && !gQuiet)
    std::printf("%s: OK, %d entries\n", archivePath.c_str(), directory.GetCount());
  return findings == 0 ? kSuccess : kFailure;
}

int Resources(const std::string& modulePath, const std::string& name, const std::string& type,
              const std::string& output) {
  HINSTANCE module = RXM::LoadResourceModule(modulePath.c_str());
  if (module == nullptr) {
    Fail(modulePath, "not a Windows module (.exe or .dll) that can be read");
    return kFailure;
  }
  int result = kSuccess;
  if (name.empty()) {
    std::printf("%-16s %-24s %8s %10s\n", "TYPE", "NAME", "LANGUAGE", "SIZE");
    const int listed = RXM::ListResources(
        module,
        [](const RXM::ResourceInfo& info, void*) {
          std::printf("%-16s %-24s %#8x %10u\n", info.type, info.name, info.language, info.size);
        },
        nullptr);
    if (listed < 0) {
      Fail(modulePath,
           "its resources cannot be listed: the resource tree leads outside the module");
      result = kFailure;
    }
  } else {
    Pointer<ResourceFile> file(new ResourceFile());
    file->SetModule(module);
    if (!file->OpenFile((name + "\n" + type).c_str(), "rb")) {
      Fail(modulePath, "no resource " + name + " of type " + type);
      result = kFailure;
    } else {
      std::FILE* out = output.empty() ? BinaryStandardOutput() : std::fopen(output.c_str(), "wb");
      if (out == nullptr) {
        Fail(output, "cannot be written");
        result = kFailure;
      } else {
        std::vector<char> bytes(file->GetFileSize());
        file->ReadData(bytes.data(), 1, static_cast<unsigned int>(bytes.size()));
        if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size())
          result = kFailure;
        if (out != stdout && std::fclose(out) != 0)
          result = kFailure;
      }
    }
    file = nullptr;
  }
  RXM::FreeResourceModule(module);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  RXM::SetDebugger(CTPointer<Debugger>(new SilentDebugger()));
  CLI::App app{
      "kymf: create, inspect and unpack KYMF multi-file archives, the archives of the RXM "
      "framework\n(many named files back to back in one file), and read the resources of Windows "
      "modules.\n\nExamples:\n  kymf create game.kymf assets/      pack a folder\n"
      "  kymf list -l game.kymf             sizes and offsets\n"
      "  kymf extract game.kymf -C out      unpack everything into out/\n",
      "kymf"};
  app.set_version_flag("--version", std::string("kymf ") + KYMF_VERSION);
  app.require_subcommand(1);
  app.add_flag("-q,--quiet", gQuiet, "No progress bar and no summary lines");

  std::string archive, entry, module, name, type, output, folder, as;
  std::vector<std::string> paths, entries;
  bool longFormat = false, json = false, force = false;

  CLI::App* create =
      app.add_subcommand("create", "Make a new archive from files and folders (recursively)");
  create->add_option("ARCHIVE", archive, "The archive to write (replaced if it exists)")
      ->required();
  create
      ->add_option("PATH", paths,
                   "Files and folders; entries are named by their path below each folder")
      ->required();

  CLI::App* list = app.add_subcommand("list", "List the entries of an archive");
  list->add_option("ARCHIVE", archive, "The archive")->required();
  list->add_flag("-l,--long", longFormat, "Also show size, dataStart and dataEnd");
  list->add_flag("--json", json, "Print a JSON array, for scripts");

  CLI::App* add = app.add_subcommand("add", "Add files to an existing archive");
  add->add_option("ARCHIVE", archive, "The archive")->required();
  add->add_option("FILE", paths, "Files to add, each under its file name")->required();
  add->add_option("--as", as, "The entry name for the one FILE");

  CLI::App* extract = app.add_subcommand("extract", "Copy entries out of an archive into files");
  extract->add_option("ARCHIVE", archive, "The archive")->required();
  extract->add_option("ENTRY", entries, "Entries to extract (default: all)");
  extract->add_option("-C,--directory", folder,
                      "Folder to extract into (default: the current one)");
  extract->add_flag("-f,--force", force, "Overwrite files that exist");

  CLI::App* cat = app.add_subcommand("cat", "Write one entry to standard output");
  cat->add_option("ARCHIVE", archive, "The archive")->required();
  cat->add_option("ENTRY", entry, "The entry")->required();

  CLI::App* verify =
      app.add_subcommand("verify", "Check an archive for everything a reader relies on");
  verify->add_option("ARCHIVE", archive, "The archive")->required();

  CLI::App* resources =
      app.add_subcommand("resources", "List the resources of a Windows module, or extract one");
  resources->add_option("MODULE", module, "The .exe or .dll")->required();
  resources->add_option("NAME", name, "Resource name, or #ID");
  resources->add_option("TYPE", type, "Resource type, or #ID (#10 is RCDATA)");
  resources->add_option("-o,--output", output,
                        "Write the resource here instead of standard output");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kUsage;
  }

  if (create->parsed())
    return Create(archive, paths);
  if (list->parsed())
    return List(archive, longFormat, json);
  if (add->parsed())
    return Add(archive, paths, as);
  if (extract->parsed())
    return Extract(archive, entries, folder, force);
  if (cat->parsed())
    return Cat(archive, entry);
  if (verify->parsed())
    return Verify(archive);
  if (resources->parsed()) {
    if (!name.empty() && type.empty()) {
      std::fprintf(stderr, "kymf: resources: give both NAME and TYPE\n");
      return kUsage;
    }
    return Resources(module, name, type, output);
  }
  return kUsage;
}
