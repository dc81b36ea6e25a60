// The room that ResourceFile, HttpFile and MultiFile keep for their stream,
// a BoundedStream (the library's own, files/BoundedStream.h): the classes
// keep the stream's layout while their headers name the type alone. The
// library does not compile where the stream does not fill it exactly.
#ifndef RXMFILES_FILES_STREAMROOM_H
#define RXMFILES_FILES_STREAMROOM_H

#include "framework/InPlace.h"

namespace RXM {

class BoundedStream;

/// Room for one BoundedStream: 48 bytes, aligned to 8 (a policy of four
/// enumerations, a source pointer, a 64-bit start, size, position, a flag).
using StreamRoom = InPlace<BoundedStream, 48, 8>;

}  // namespace RXM

#endif  // RXMFILES_FILES_STREAMROOM_H
