// String records from arbitrary bytes: read them one after another to the end.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Pointer<KYFile> file(new fuzzing::BytesFile(data, size));
  file->OpenFile("fuzz", "rb");
  String text;
  for (int i = 0; i < 1000 && !file->EndOfFile(); ++i) {
    const long before = file->GetPosition();
    ReadString(file, text);
    if (text.GetLength() > 32767 || file->GetPosition() == before)
      break;
  }
  return 0;
}
