// The real calls of the operating system, as the process's default System.
#ifndef RXMFILES_BACKENDS_OPERATINGSYSTEM_H
#define RXMFILES_BACKENDS_OPERATINGSYSTEM_H

#include "backends/System.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace RXM {
namespace sys {

// POSIX calls, or their Win32 and C runtime counterparts on Windows, each
// passed the arguments and giving the result System describes. Keeps no
// state: one object serves every thread.
class OperatingSystem final : public System {
 public:
  std::FILE* open(const char* path, const char* mode) override;
  std::size_t write(const void* buffer, std::size_t size, std::size_t count,
                    std::FILE* stream) override;
  int flush(std::FILE* stream) override;
  int sync(std::FILE* stream) override;
  int close(std::FILE* stream) override;
  int replace(const char* from, const char* to) override;
  int syncDirectoryOf(const char* path) override;
  int remove(const char* path) override;  // in OperatingSystemFolders.cpp
  void* allocate(std::size_t size) override;
  std::size_t read(void* buffer, std::size_t size, std::size_t count, std::FILE* stream) override;
  int seek(std::FILE* stream, std::int64_t offset, int origin) override;
  std::int64_t tell(std::FILE* stream) override;
  int inspect(const char* path, FileInfo* info) override;
  Handle openForReading(const char* path) override;
  Handle duplicateForReading(std::FILE* stream) override;
  Handle reopenForReading(Handle handle) override;
  std::int64_t readAt(Handle handle, void* buffer, std::size_t size, std::uint64_t offset) override;
  int closeHandle(Handle handle) override;
  int inspectHandle(Handle handle, FileInfo* info) override;
  Handle handleOf(std::FILE* stream) override { return HandleOf(stream); }
  Handle openFolderBelow(const char* root, const char* path, bool create, WalkStop* stop) override;
  Handle openBelow(const char* root, const char* name) override;
  int listBelow(const char* root, const char* folder,
                void (*visit)(const char* name, FileKind kind, void* context),
                void* context) override;
  int makePrivateFolder(const char* path) override;
  int currentFolder(std::string* path) override;
  int temporaryFolder(std::string* path) override;

  // Defined in OperatingSystemTargets.cpp.
  int inspectIn(Handle folder, const char* name, FileInfo* info) override;
  std::FILE* createIn(Handle folder, const char* name) override;
  int renameIn(Handle folder, const char* from, const char* to, bool replace) override;
  int removeIn(Handle folder, const char* name) override;

  // Defined in ReplacementCalls.cpp.
  int resolveLinks(const char* path, std::string* target) override;
  int checkWritable(const char* path) override;
  Handle openLock(const char* path) override;
  int tryLock(Handle handle) override;
  int unlock(Handle handle) override;
  void pause(std::uint32_t milliseconds) override;
  std::FILE* createTemporary(const char* prefix, std::string* name) override;
  int removeAbandoned(const char* path) override;
  int placeNew(const char* from, const char* to) override;
  int copyAttributes(const char* model, std::FILE* stream) override;
  int stampModified(const char* path, std::int64_t nanoseconds) override;
  std::uint64_t copyRange(Handle from, std::uint64_t offset, std::uint64_t size,
                          std::FILE* to) override;
};

#if defined(_WIN32)
// The errno value that says what the Win32 error `error` (a DWORD) says:
// ENOENT, EEXIST, EACCES, EBUSY, ENOTEMPTY, or EIO for any other.
int ErrnoOf(unsigned long error);
#else
// What a stat says of a name, as the seam reports it: device, node, kind
// and, for a file, size.
void FillFileInfo(const struct stat& status, FileInfo* info);
#endif

}  // namespace sys
}  // namespace RXM

#endif  // RXMFILES_BACKENDS_OPERATINGSYSTEM_H
