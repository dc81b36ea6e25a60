#include "files/StringSerialization.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "files/LittleEndian.h"

namespace {

constexpr std::int32_t kLongestText = 32767;

}  // namespace

void WriteString(Pointer<KYFile> file, const String& text) {
  std::size_t characters = std::strlen(text.GetText());
  if (characters > static_cast<std::size_t>(kLongestText)) {
    characters = kLongestText;
  }
  std::uint8_t length[2];
  RXM::LittleEndian::Encode16(static_cast<std::uint16_t>(characters), length);
  file->WriteData(length, 2, 1);
  if (characters > 0) {
    file->WriteData(text.GetText(), static_cast<unsigned int>(characters), 1);
  }
}

void ReadString(Pointer<KYFile> file, String& text) {
  std::uint8_t length[2] = {0, 0};
  file->ReadData(length, 2, 1);
  const auto stored = static_cast<std::int16_t>(RXM::LittleEndian::Decode16(length));
  if (stored <= 0) {
    text = String();
    return;
  }
  // Zeroed, so that characters the file did not deliver read as the end.
  std::vector<char> buffer(static_cast<std::size_t>(stored) + 1, '\0');
  file->ReadData(buffer.data(), static_cast<unsigned int>(stored), 1);
  text = String(buffer.data());
}
