#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RXMFiles.h"

namespace {

// A library file class: its registered name, and how the pointer that its
// create function returns for its own name is seen as a KYFile.
struct FileClass {
  std::string name;
  KYFile* (*fromOwnInterface)(void* created);
};

// GoogleTest prints each parameter when it registers the tests, with or
// without a name generator; without this it prints the struct's raw bytes,
// padding included, which valgrind reports as uninitialised.
void PrintTo(const FileClass& fileClass, std::ostream* out) {
  *out << fileClass.name;
}

template <class C>
KYFile* AsKYFile(void* created) {
  return static_cast<C*>(created);
}

const std::vector<FileClass> kFileClasses = {
    {"DiskFile", AsKYFile<DiskFile>},
    {"MultiFile", AsKYFile<MultiFile>},
    {"ResourceFile", AsKYFile<ResourceFile>},
    {"HttpFile", AsKYFile<HttpFile>},
};

TEST(RegistrationTest, LibraryRecordsAreRegisteredInOrderAtLoad) {
  std::vector<std::string> registered;
  for (int i = 0; i < RTTIClass::GetCount(); ++i) {
    registered.emplace_back(RTTIClass::GetAt(i)->GetName().GetText());
  }
  EXPECT_EQ(registered,
            (std::vector<std::string>{"DiskFile", "MultiFile", "ResourceFile", "HttpFile"}));
}

class FileClassRegistrationTest : public testing::TestWithParam<FileClass> {};

TEST_P(FileClassRegistrationTest, CreatesNewClosedObjectsAsKYFileOrItsOwnNameOnly) {
  const RTTIClass& record = *RTTIClass::Find(GetParam().name.c_str());
  Pointer<KYFile> asKYFile(static_cast<KYFile*>(record.Create("KYFile")));
  ASSERT_FALSE(asKYFile.IsNull());
  EXPECT_EQ(asKYFile->GetReferenceCount(), 1);  // created at 0; the Pointer holds the one
  EXPECT_FALSE(asKYFile->IsFileOpened());
  EXPECT_EQ(asKYFile->GetClass(), &record);

  Pointer<KYFile> asItself(GetParam().fromOwnInterface(record.Create(GetParam().name.c_str())));
  ASSERT_FALSE(asItself.IsNull());
  EXPECT_NE(asItself, asKYFile);
  EXPECT_EQ(asItself->GetClass(), &record);
  EXPECT_EQ(asItself->FindInterface("KYFile"), static_cast<void*>(asItself.Get()));

  Pointer<KYFile> plain(GetParam().fromOwnInterface(record.Create(nullptr)));
  ASSERT_FALSE(plain.IsNull());
  EXPECT_FALSE(plain->IsFileOpened());

  EXPECT_TRUE(record.ImplementsInterface("KYFile"));
  EXPECT_TRUE(record.ImplementsInterface(GetParam().name.c_str()));
  for (const char* refused : {"kyfile", "KYFILE", "BaseObject", "RTTI", "MultiFile", "DiskFile",
                              "ResourceFile", "HttpFile", ""}) {
    if (GetParam().name == refused) {
      continue;
    }
    EXPECT_FALSE(record.ImplementsInterface(refused)) << refused;
    EXPECT_EQ(record.Create(refused), nullptr) << refused;  // and leaves no object (LSan)
  }
}

INSTANTIATE_TEST_SUITE_P(LibraryClasses, FileClassRegistrationTest, testing::ValuesIn(kFileClasses),
                         [](const testing::TestParamInfo<FileClass>& param) {
                           return param.param.name;
                         });

}  // namespace
