// A program built against the installed library: writes and reads a string
// record through a DiskFile created by its registered class name, and an
// archive through the modern face (modern.cpp).
#include <RXMFiles.h>

#include <cstdio>
#include <cstring>
#include <string>

std::string ModernRoundTrip(const std::string& path);

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "consumer.dat";
  const RTTIClass* record = RTTIClass::Find("DiskFile");
  if (record == nullptr) {
    std::fprintf(stderr, "DiskFile is not registered\n");
    return 1;
  }
  Pointer<KYFile> file(static_cast<KYFile*>(record->Create("KYFile")));
  if (!file->OpenFile(path, "wb")) {
    return 1;
  }
  WriteString(file, "installed");
  file->CloseFile();
  file->OpenFile(path, "rb");
  String text;
  ReadString(file, text);
  std::printf("%s\n", text.GetText());
  const std::string modern = ModernRoundTrip(std::string(path) + ".kymf");
  if (!modern.empty()) {
    std::fprintf(stderr, "modern face: %s\n", modern.c_str());
    return 1;
  }
  return std::strcmp(text.GetText(), "installed") == 0 ? 0 : 1;
}
