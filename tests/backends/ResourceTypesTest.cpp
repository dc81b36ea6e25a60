#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "RXMFiles.h"

namespace {

TEST(ResourceTypesTest, StandardIdsHaveTheirWindowsNamesAndOtherTypesShowAsTheyAre) {
  const std::vector<std::tuple<std::uint32_t, const char*>> names = {
      {1, "CURSOR"},      {2, "BITMAP"},     {3, "ICON"},          {4, "MENU"},
      {5, "DIALOG"},      {6, "STRING"},     {7, "FONTDIR"},       {8, "FONT"},
      {9, "ACCELERATOR"}, {10, "RCDATA"},    {11, "MESSAGETABLE"}, {12, "GROUP_CURSOR"},
      {14, "GROUP_ICON"}, {16, "VERSION"},   {17, "DLGINCLUDE"},   {19, "PLUGPLAY"},
      {20, "VXD"},        {21, "ANICURSOR"}, {22, "ANIICON"},      {23, "HTML"},
      {24, "MANIFEST"},
  };
  for (const auto& [id, name] : names) {
    EXPECT_STREQ(RXM::ResourceTypeName(id), name);
    std::string type;
    ASSERT_TRUE(RXM::ResourceTypeFromText(name, type)) << name;
    EXPECT_EQ(type, "#" + std::to_string(id));
    EXPECT_EQ(RXM::ResourceTypeText(type.c_str()), name);
  }
  for (std::uint32_t unnamed : {0u, 13u, 15u, 18u, 25u, 500u, 0x10000u}) {
    EXPECT_EQ(RXM::ResourceTypeName(unnamed), nullptr) << unnamed;
  }
  // Types without a standard name are shown as they are.
  for (const auto& [type, shown] : std::vector<std::tuple<const char*, const char*>>{
           {"#500", "#500"}, {"#13", "#13"}, {"MYTYPE", "MYTYPE"}, {"#0010", "RCDATA"}}) {
    EXPECT_EQ(RXM::ResourceTypeText(type), shown) << type;
  }
}

TEST(ResourceTypesTest, TextBecomesTheTypeFindResourceTakes) {
  const std::vector<std::tuple<const char*, bool, const char*>> cases = {
      {"RCDATA", true, "#10"},      {"rcdata", true, "#10"},    {"Group_Icon", true, "#14"},
      {"#10", true, "#10"},         {"10", true, "#10"},        {"#+010", true, "#10"},
      {"500", true, "#500"},        {"#65535", true, "#65535"}, {"MYTYPE", true, "MYTYPE"},
      {"RCDATA2", true, "RCDATA2"}, {"1x", true, "1x"},         {"", false, ""},
      {"65536", false, ""},         {"#65536", false, ""},      {"#-1", false, ""},
      {"99999999999", false, ""},
  };
  for (const auto& [text, accepted, expected] : cases) {
    std::string type = "unchanged";
    EXPECT_EQ(RXM::ResourceTypeFromText(text, type), accepted) << text;
    EXPECT_EQ(type, accepted ? expected : "unchanged") << text;
  }
}

}  // namespace
