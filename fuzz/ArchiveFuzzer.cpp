// An archive from arbitrary bytes: open it, then open, read, seek and extract
// every entry, and insert one file.
#include <climits>
#include <vector>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& scratch = fuzzing::Scratch();
  MultiFile archive;
  if (archive.OpenMultiFile(Pointer<KYFile>(new fuzzing::BytesFile(data, size)), "fuzz")) {
    const PointerArray<MultiFileElement>& directory = archive.GetDirectory();
    std::vector<char> buffer(8192);
    const int count = directory.GetCount() < 64 ? directory.GetCount() : 64;
    for (int i = 0; i < count; ++i) {
      const String name(directory.GetAt(i)->name);
      if (!archive.OpenFile(name, "rb"))
        continue;
      for (unsigned int itemSize : {1u, 3u, 80u, 4096u}) {
        archive.ReadData(buffer.data(), itemSize, 2);
        archive.EndOfFile();
      }
      for (int origin = 0; origin <= 3; ++origin) {
        for (long offset :
             {-1L, 0L, 1L, 7L, static_cast<long>(INT32_MIN), static_cast<long>(INT32_MAX)}) {
          archive.Seek(offset, origin);
          archive.ReadData(buffer.data(), 1, 1);
          archive.EndOfFile();
          archive.GetPosition();
        }
      }
      archive.GetFileSize();
      archive.ExtractToFile((scratch + "/extracted").c_str());
    }
  }

  // Insertion goes through the disk, as it always does.
  const std::string path = scratch + "/archive.kymf";
  const std::string input = scratch + "/input";
  fuzzing::WriteFile(path, data, size);
  static const std::uint8_t kInput[] = {'f', 'u', 'z', 'z'};
  fuzzing::WriteFile(input, kInput, sizeof kInput);
  MultiFile onDisk(path.c_str());
  try {
    onDisk.InsertFile(Pointer<KYFile>(), input.c_str(), "inserted by the fuzzer");
  } catch (Exception* e) {
    delete e;
  }
  return 0;
}
