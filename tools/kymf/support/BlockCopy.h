// The one copy loop of kymf: bytes moved from a source to a sink in 64 KiB
// blocks, for entries written to standard output or to files and for
// archives staged through standard input or output.
#ifndef KYMF_SUPPORT_BLOCKCOPY_H
#define KYMF_SUPPORT_BLOCKCOPY_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

#include <RXMFiles.h>

#include "backends/System.h"

namespace kymf {

// Fills `buffer` with up to `size` bytes; 0 at the end (or on a failure the
// caller finds out by the size copied or by the source's own error state).
using ReadBlock = std::function<std::size_t(char* buffer, std::size_t size)>;
// Takes `size` bytes; false when they could not be written (errno tells why).
using WriteBlock = std::function<bool(const char* data, std::size_t size)>;

struct CopyResult {
  std::uint64_t copied = 0;  // bytes that `write` took
  bool written = true;       // false when `write` refused a block; the copy stopped there
};

// Reads until `read` gives 0 or `write` refuses a block. Never loops on a
// source that makes no progress: a read of 0 bytes ends the copy.
CopyResult CopyBlocks(const ReadBlock& read, const WriteBlock& write);

// The open stream `from`, read to its end, into `write`.
CopyResult CopyStream(KYFile& from, const WriteBlock& write);

// A sink writing to `stream` with fwrite.
WriteBlock WriteTo(std::FILE* stream);

// A source reading `stream` (one of `system`'s, or a standard stream)
// with `system`'s read.
ReadBlock ReadFrom(RXM::sys::System& system, std::FILE* stream);

// When `stream` writes into a pipe (Linux), asks for a pipe buffer of
// `bytes` (at most the system's pipe-max-size), so that a large write does
// not stop for the reader at every 64 KiB, the default: an archive piped
// into another program goes about twice as fast (bench/stream). Nothing
// elsewhere, or when the kernel refuses; the bytes written are the same.
void WidenPipe(std::FILE* stream, std::size_t bytes);

// Puts the standard stream `stream` in binary mode, where text mode would
// change its bytes (Windows: LF to CR LF); nothing elsewhere.
void BinaryMode(std::FILE* stream);

}  // namespace kymf

#endif  // KYMF_SUPPORT_BLOCKCOPY_H
