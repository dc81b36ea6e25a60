// Writes the seed corpora of the fuzz targets with the library itself:
// archives, string records. Usage: make_seeds CORPUS_DIR
#include <string>

#include "RXMFiles.h"

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  const std::string root = argv[1];
  MultiFile::CreateEmptyMultiFile((root + "/archive/empty.kymf").c_str());
  {
    MultiFileWriter writer((root + "/archive/two.kymf").c_str());
    writer.AddBytes("a.txt", "abc", 3);
    writer.AddBytes("b", "12345", 5);
    if (!writer.Commit())
      return 1;
  }
  {
    MultiFileWriter writer((root + "/archive/names.kymf").c_str());
    writer.AddBytes("Readme.TXT", "first", 5);
    writer.AddBytes(std::string(69, 'n').c_str(), "long name", 9);
    writer.AddBytes("dir/sub/file.bin", "\x00\x01\x02\xff", 4);
    if (!writer.Commit())
      return 1;
  }
  Pointer<KYFile> strings(new DiskFile());
  if (!strings->OpenFile((root + "/string/records.bin").c_str(), "wb"))
    return 1;
  WriteString(strings, "");
  WriteString(strings, "abc");
  WriteString(strings, std::string(300, 'x').c_str());
  return 0;
}
