// Runs the resource lookup table on Windows, through the library's DLL and
// the real Win32 resource functions: the answers must be those that the
// library's own reader gives everywhere else.
// Usage: resource_lookup_check MODULE.dll
#include <cstdio>
#include <string>

#include "RXMFiles.h"
#include "backends/ResourceLookupCases.h"

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  HINSTANCE module = RXM::LoadResourceModule(argv[1]);
  if (module == nullptr) {
    std::printf("cannot load %s\n", argv[1]);
    return 1;
  }
  int failures = 0;
  {
    Pointer<ResourceFile> file(new ResourceFile());
    file->SetModule(module);
    for (const auto& [name, expected] : ResourceLookupCases()) {
      std::string found = "<none>";
      if (file->OpenFile(name.c_str(), "rb")) {
        found.assign(file->GetFileSize(), '\0');
        file->ReadData(&found[0], 1, file->GetFileSize());
      }
      if (found != expected) {
        std::printf("MISMATCH %s: found \"%s\", expected \"%s\"\n", name.c_str(), found.c_str(),
                    expected.c_str());
        ++failures;
      }
    }
    MultiFile archive;
    if (!archive.OpenMultiFile(Pointer<KYFile>(file.Get()), "ARCHIVE\n#10") ||
        !archive.OpenFile("b", "rb") || archive.GetFileSize() != 5) {
      std::printf("MISMATCH: the archive resource does not open with its entry b\n");
      ++failures;
    }
  }
  RXM::FreeResourceModule(module);
  std::printf("%zu lookups through Win32: %d mismatches\n", ResourceLookupCases().size(), failures);
  return failures == 0 ? 0 : 1;
}
