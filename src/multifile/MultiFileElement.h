#ifndef RXMFILES_MULTIFILE_MULTIFILEELEMENT_H
#define RXMFILES_MULTIFILE_MULTIFILEELEMENT_H

#include "framework/BaseObject.h"
#include "framework/Export.h"
#include "multifile/ArchiveFormat.h"

// One entry of an archive's directory: exactly its 80-byte record (`name`,
// `dataStart`, `dataEnd`, see ArchiveFormat.h), held on the heap and shared
// through Pointer<MultiFileElement>.
class RXMFILES_API MultiFileElement : public virtual BaseObject, public DirectoryRecord {
 public:
  // The record's bytes are unset until a record is read or assigned into it.
  MultiFileElement();
  MultiFileElement(const MultiFileElement& other);
  ~MultiFileElement() override;

  // Copies the record (unless `other` is this object) and returns a copy of
  // this element.
  const MultiFileElement operator=(const MultiFileElement& other);  // NOLINT
};

#endif  // RXMFILES_MULTIFILE_MULTIFILEELEMENT_H
