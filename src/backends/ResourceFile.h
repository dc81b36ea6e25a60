#ifndef RXMFILES_BACKENDS_RESOURCEFILE_H
#define RXMFILES_BACKENDS_RESOURCEFILE_H

#include <cstdint>
#include <memory>

#include "backends/ResourceModule.h"
#include "files/KYFile.h"
#include "files/StreamRoom.h"
#include "framework/Export.h"
#include "framework/RTTIClass.h"

namespace RXM {
class ByteSource;
struct StreamPolicy;
}  // namespace RXM

/// A read-only KYFile over one resource of a Windows module. The caller names
/// the module once with SetModule; OpenFile then takes the resource's name and
/// type joined by a line feed ("ARCHIVE\n#10": the resource ARCHIVE of type
/// RT_RCDATA). The bytes stay in the module; reads copy whole items out of
/// them.
///
/// Copies are open on the same bytes at the same position; from then on their
/// positions move independently.
class RXMFILES_API ResourceFile : public KYFile {
 public:
  /// Not open. The module is null until SetModule; position and size are 0.
  ResourceFile();
  /// Open on the same module and bytes as `other`, at its position; from
  /// then on the positions move independently.
  ResourceFile(const ResourceFile& other);
  /// Makes this object a copy of `other`, as the copy constructor does;
  /// returns this object.
  ResourceFile& operator=(const ResourceFile& other);
  ~ResourceFile() override;

  const RTTIClass* GetClass() const override;
  /// Answers "KYFile" and "ResourceFile", nothing else.
  void* FindInterface(const char* name) const override;

  /// The module whose resources later OpenFile calls search.
  void SetModule(HINSTANCE module);

  /// Releases the open resource, then opens the resource `name` ("NAME\nTYPE";
  /// with no line feed the type is ""). `mode` is not used. False when there
  /// is no such resource, its bytes cannot be reached, or `name` is longer
  /// than 259 characters.
  bool OpenFile(String name, String mode) override;
  /// True when a resource was open; size and position keep their values.
  bool CloseFile() override;
  bool IsFileOpened() override;
  /// Whole items only: an item that only partly remains is not read. With
  /// `size` 0 every item fits: the result is `count`. 0 when not open.
  unsigned int ReadData(void* buffer, unsigned int size, unsigned int count) override;
  /// Writes nothing: 0.
  unsigned int WriteData(const void* buffer, unsigned int size, unsigned int count) override;
  /// The size of the resource last opened.
  unsigned int GetFileSize() override;
  /// False when not open; otherwise whether the position is at the end.
  bool EndOfFile() override;
  /// Clamps the new position into the resource; true whenever a resource is
  /// open (an unknown origin leaves the position), false when none is.
  bool Seek(long offset, int origin) override;
  /// The position in the resource last opened.
  long GetPosition() override;

 private:
  static void* rtti_CreateResourceFile(const char* interfaceName);
  static bool rtti_ImplementsInterfaceResourceFile(const char* interfaceName);
  static RTTIClass rtti_for_ResourceFile;

  HINSTANCE module = nullptr;
  HGLOBAL loadedResource = nullptr;
  HRSRC foundResource = nullptr;
  // Open exactly while a resource is: over the bytes LockResource gave, which
  // the module keeps; its size and position are the resource's.
  // The resource's stream: items of size 0 all fit, an unknown origin is
  // ignored, and size and position stay readable after closing.
  static const RXM::StreamPolicy kPolicy;

  RXM::StreamRoom stream;
  std::shared_ptr<const RXM::ByteSource> bytes;  // what the stream reads; shared by copies
};

#endif  // RXMFILES_BACKENDS_RESOURCEFILE_H
