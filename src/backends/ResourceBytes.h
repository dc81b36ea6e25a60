// Whether bytes that a module loaded by Windows names are really there.
//
// Windows takes a resource's address and size from the module's own records
// and checks neither against the image: a hostile module can name bytes it
// does not have. The library's own reader (used elsewhere) refuses such
// resources while looking them up, so these checks are needed on Windows only.
#ifndef RXMFILES_BACKENDS_RESOURCEBYTES_H
#define RXMFILES_BACKENDS_RESOURCEBYTES_H

#include <cstdint>

#if defined(_WIN32)
namespace RXM {

// True when every byte of [bytes, bytes + size) lies in committed, readable
// memory; false for a null `bytes` or a range that wraps around.
bool ResourceBytesReadable(const void* bytes, std::uint32_t size);

// How many bytes from `start` on are committed and readable without a gap,
// up to `limit`.
std::uint32_t ReadableExtent(const void* start, std::uint32_t limit);

}  // namespace RXM
#endif

#endif  // RXMFILES_BACKENDS_RESOURCEBYTES_H
