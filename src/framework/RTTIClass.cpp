#include "framework/RTTIClass.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// The registry is built on first use, so it exists before the first record of
// any library registers during static initialisation. Since it is completed
// inside the first record's constructor, it is destroyed only after every
// record of that order has left it.
std::vector<const RTTIClass*>& Registry() {
  static std::vector<const RTTIClass*> records;
  return records;
}

}  // namespace

RTTIClass::RTTIClass(String className, CreateFunction createFunction,
                     ImplementsFunction implementsFunction)
    : name(std::move(className)), create(createFunction), implements(implementsFunction) {
  Registry().push_back(this);
}

RTTIClass::~RTTIClass() {
  std::vector<const RTTIClass*>& records = Registry();
  records.erase(std::remove(records.begin(), records.end(), this), records.end());
}

const String& RTTIClass::GetName() const {
  return name;
}

void* RTTIClass::Create(const char* interfaceName) const {
  return create != nullptr ? create(interfaceName) : nullptr;
}

bool RTTIClass::ImplementsInterface(const char* interfaceName) const {
  return implements != nullptr && implements(interfaceName);
}

const RTTIClass* RTTIClass::Find(const char* className) {
  if (className == nullptr) {
    return nullptr;
  }
  for (const RTTIClass* record : Registry()) {
    if (std::strcmp(record->name.GetText(), className) == 0) {
      return record;
    }
  }
  return nullptr;
}

int RTTIClass::GetCount() {
  return static_cast<int>(Registry().size());
}

const RTTIClass* RTTIClass::GetAt(int index) {
  const std::vector<const RTTIClass*>& records = Registry();
  if (index < 0 || static_cast<std::size_t>(index) >= records.size()) {
    return nullptr;
  }
  return records[static_cast<std::size_t>(index)];
}
