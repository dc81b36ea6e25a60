// The calls to the operating system that can fail under a program's feet
// (open, write, flush, sync, close, replace, remove, allocate).
//
// The library makes them only through this table, so that tests can make any
// of them fail and watch what the library does then. Programs never touch it;
// it is not exported.
#ifndef RXMFILES_BACKENDS_SYSTEMCALLS_H
#define RXMFILES_BACKENDS_SYSTEMCALLS_H

#include <cstddef>
#include <cstdio>

namespace RXM {
namespace sys {

struct SystemCalls {
  // fopen; on Windows _fsopen with shared access, so that a file held open can
  // be opened again elsewhere.
  std::FILE* (*open)(const char* path, const char* mode);
  std::size_t (*write)(const void* buffer, std::size_t size, std::size_t count, std::FILE* stream);
  int (*flush)(std::FILE* stream);
  // Forces the stream's written data to the storage device (after a flush).
  int (*sync)(std::FILE* stream);
  int (*close)(std::FILE* stream);
  // Puts the file `from` in the place of `to` in one step: readers see either
  // the old `to` or the new one, never neither; 0 on success.
  int (*replace)(const char* from, const char* to);
  // Forces the directory entry of `path` (after a replace) to storage.
  int (*syncDirectoryOf)(const char* path);
  int (*remove)(const char* path);
  void* (*allocate)(std::size_t size);
};

// The table in use. Tests replace entries and restore the saved table.
SystemCalls& Calls();

// The table of the real calls.
const SystemCalls& RealCalls();

}  // namespace sys
}  // namespace RXM

#endif  // RXMFILES_BACKENDS_SYSTEMCALLS_H
