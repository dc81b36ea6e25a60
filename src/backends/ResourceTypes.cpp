#include "backends/ResourceTypes.h"

#include <cstring>

#include "backends/ResourceTree.h"

namespace RXM {

namespace {

struct TypeName {
  std::uint16_t id;
  const char* name;
};

constexpr TypeName kTypes[] = {
    {1, "CURSOR"},      {2, "BITMAP"},     {3, "ICON"},          {4, "MENU"},
    {5, "DIALOG"},      {6, "STRING"},     {7, "FONTDIR"},       {8, "FONT"},
    {9, "ACCELERATOR"}, {10, "RCDATA"},    {11, "MESSAGETABLE"}, {12, "GROUP_CURSOR"},
    {14, "GROUP_ICON"}, {16, "VERSION"},   {17, "DLGINCLUDE"},   {19, "PLUGPLAY"},
    {20, "VXD"},        {21, "ANICURSOR"}, {22, "ANIICON"},      {23, "HTML"},
    {24, "MANIFEST"},
};

bool SameLetters(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    const char upper = (*a >= 'a' && *a <= 'z') ? static_cast<char>(*a - 'a' + 'A') : *a;
    if (upper != *b) {
      return false;
    }
  }
  return *a == *b;
}

// Decimal digits only, as a 16-bit ID.
bool PlainNumber(const char* text, std::uint16_t& id) {
  std::uint32_t value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || value > 0xFFFFu) {
      return false;
    }
    value = value * 10u + static_cast<std::uint32_t>(*c - '0');
  }
  if (*text == '\0' || value > 0xFFFFu) {
    return false;
  }
  id = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace

const char* ResourceTypeName(std::uint32_t id) {
  for (const TypeName& type : kTypes) {
    if (type.id == id) {
      return type.name;
    }
  }
  return nullptr;
}

bool ResourceTypeFromText(const char* text, std::string& type) {
  if (text == nullptr || *text == '\0') {
    return false;
  }
  std::uint16_t id = 0;
  const bool number = text[0] == '#' || std::strspn(text, "0123456789") == std::strlen(text);
  bool isId = text[0] == '#' ? ParseResourceId(text + 1, id) : PlainNumber(text, id);
  if (number && !isId) {
    return false;
  }
  for (const TypeName& standard : kTypes) {
    if (!isId && SameLetters(text, standard.name)) {
      id = standard.id;
      isId = true;
    }
  }
  type = isId ? "#" + std::to_string(id) : std::string(text);
  return true;
}

std::string ResourceTypeText(const char* type) {
  std::uint16_t id = 0;
  if (type != nullptr && type[0] == '#' && ParseResourceId(type + 1, id)) {
    const char* name = ResourceTypeName(id);
    return name != nullptr ? name : "#" + std::to_string(id);
  }
  return type != nullptr ? type : "";
}

}  // namespace RXM
