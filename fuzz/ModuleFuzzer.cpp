// A Windows module from arbitrary bytes: load it, look resources up by name
// and by ID, read them through ResourceFile, and list them all.
#include <vector>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzzing::Scratch() + "/module.dll";
  fuzzing::WriteFile(path, data, size);
  HINSTANCE module = RXM::LoadResourceModule(path.c_str());
  if (module == nullptr)
    return 0;
  {
    Pointer<ResourceFile> file(new ResourceFile());
    file->SetModule(module);
    std::vector<char> buffer(4096);
    for (const char* name :
         {"#1", "#101", "ARCHIVE", "MYDATA", "#123", "123", "# 7", "#65536", "x"}) {
      for (const char* type : {"#10", "#3", "#24", "MYTYPE", ""}) {
        if (!file->OpenFile((std::string(name) + "\n" + type).c_str(), "rb"))
          continue;
        file->ReadData(buffer.data(), 7, 3);
        file->Seek(-2, 2);
        file->ReadData(buffer.data(), 1, 4);
        file->EndOfFile();
      }
    }
  }
  RXM::Status status;
  RXM::ListResources(
      module,
      [](const RXM::ResourceInfo& info, void*) {
        volatile std::uint8_t sink = 0;
        for (std::uint32_t i = 0; info.bytes != nullptr && i < info.size; i += 512)
          sink ^= info.bytes[i];
        (void)sink;
      },
      nullptr, status);
  RXM::FreeResourceModule(module);
  return 0;
}
