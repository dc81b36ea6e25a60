// Strings stored in any KYFile as length-prefixed records:
//
//   offset  size    field
//   0       2       length: signed 16-bit little-endian count of characters
//   2       length  the characters, without a terminating NUL
//
// Records follow one another with no gap. A record holds at most 32767
// characters.
#ifndef RXMFILES_FILES_STRINGSERIALIZATION_H
#define RXMFILES_FILES_STRINGSERIALIZATION_H

#include "files/KYFile.h"
#include "framework/Export.h"
#include "framework/Pointer.h"
#include "framework/String.h"

/// Writes `text` as one record at the file's position. A text of more than
/// 32767 characters is stored as its first 32767 characters, so that the record
/// stays one that ReadString can read. Write failures are not reported.
RXMFILES_API void WriteString(Pointer<KYFile> file, const String& text);

/// Reads one record at the file's position into `text`. The text ends at the
/// first NUL among the stored characters, but the whole record is consumed. A
/// negative length gives "" and consumes only the length; a file that ends
/// early gives the characters it delivered ("" when even the length is short).
RXMFILES_API void ReadString(Pointer<KYFile> file, String& text);

#endif  // RXMFILES_FILES_STRINGSERIALIZATION_H
