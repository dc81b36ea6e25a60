// A System for tests: forwards every call to the process's real one, except
// those it is told to fail, and keeps count of the streams it opened. The
// faults are set before the calls they affect; the counts may be kept from
// many threads at once. FailCall fails the Nth call of any kind, so that a
// test can sweep N over a whole operation (as SQLite's tests do).
#ifndef RXMFILES_TESTS_BACKENDS_FAULTYSYSTEM_H
#define RXMFILES_TESTS_BACKENDS_FAULTYSYSTEM_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "backends/System.h"

namespace testing_support {

class FaultySystem : public RXM::sys::System {
 public:
  // Over the process's real calls, or over `under` (which must outlive it).
  FaultySystem() = default;
  explicit FaultySystem(RXM::sys::System& under) : real(under) {}

  // The faults, none at first.
  int writesBeforeFailing =
      -1;  // writes let through before each later one fails (ENOSPC); -1 for none
  bool failFlush = false;
  bool failSync = false;
  bool failClose = false;    // the stream is closed, but the close reports failure
  bool failReplace = false;  // with errno EXDEV
  bool failAllocate = false;
  bool failReopen = false;     // reopenForReading fails with EMFILE
  std::size_t readAtMost = 0;  // bytes each readAt gives at most (short reads); 0 for no limit
  // The errno value with which an open of `path` fails; 0 lets it through.
  std::function<int(const char* path)> refuseOpen;
  bool shortCopyRange = false;  // each copyRange copies nothing and reports one byte short
  // The errno values with which inspectIn, createIn and renameIn fail; 0 lets
  // them through.
  int inspectInError = 0;
  int createInError = 0;
  int renameInError = 0;
  // Called after each open of a stream on `path` that succeeded, when set: a
  // test can put another file under the name just then.
  std::function<void(const char* path)> afterOpen;
  // The errno value with which createTemporary fails; 0 lets it through.
  int createTemporaryError = 0;
  // Called instead of sleeping, when set (so that a test can end the wait).
  std::function<void(std::uint32_t milliseconds)> pauseInstead;

  // Takes every fault away (FailCall's too).
  void Heal();

  // From now on counts every call (of any kind but pause) and fails the
  // `number`th (from 1; 0 for none) as that call fails on a real system: no
  // stream or handle, -1 or an errno value, no bytes, with errno EIO. A close
  // that fails still closes. callsSeen() counts the calls since; failedCall()
  // names the one that failed (null while none has).
  void FailCall(int number);
  int callsSeen() const { return calls.load(); }
  // Called before each counted call, with its number and name, when set: a
  // test can look at the file system just then (as it would be if the
  // process died before the call).
  std::function<void(int number, const char* call)> beforeCall;
  const char* failedCall() const { return failed.load(); }

  // What it saw.
  int opens = 0;                     // opens that gave a stream
  std::set<std::FILE*> openStreams;  // streams opened and not yet closed
  int strayCloses = 0;               // closes of a stream that was not open

  std::FILE* open(const char* path, const char* mode) override;
  std::size_t write(const void* buffer, std::size_t size, std::size_t count,
                    std::FILE* stream) override;
  int flush(std::FILE* stream) override;
  int sync(std::FILE* stream) override;
  int close(std::FILE* stream) override;
  int replace(const char* from, const char* to) override;
  int syncDirectoryOf(const char* path) override;
  int remove(const char* path) override;
  void* allocate(std::size_t size) override;
  std::size_t read(void* buffer, std::size_t size, std::size_t count, std::FILE* stream) override;
  int seek(std::FILE* stream, std::int64_t offset, int origin) override;
  std::int64_t tell(std::FILE* stream) override;
  int inspect(const char* path, RXM::sys::FileInfo* info) override;
  RXM::sys::Handle openForReading(const char* path) override;
  RXM::sys::Handle duplicateForReading(std::FILE* stream) override;
  RXM::sys::Handle reopenForReading(RXM::sys::Handle handle) override;
  std::int64_t readAt(RXM::sys::Handle handle, void* buffer, std::size_t size,
                      std::uint64_t offset) override;
  int closeHandle(RXM::sys::Handle handle) override;
  int inspectHandle(RXM::sys::Handle handle, RXM::sys::FileInfo* info) override;
  RXM::sys::Handle handleOf(std::FILE* stream) override;
  RXM::sys::Handle openFolderBelow(const char* root, const char* path, bool create,
                                   RXM::sys::WalkStop* stop) override;
  RXM::sys::Handle openBelow(const char* root, const char* name) override;
  int listBelow(const char* root, const char* folder,
                void (*visit)(const char* name, RXM::sys::FileKind kind, void* context),
                void* context) override;
  int inspectIn(RXM::sys::Handle folder, const char* name, RXM::sys::FileInfo* info) override;
  std::FILE* createIn(RXM::sys::Handle folder, const char* name) override;
  int renameIn(RXM::sys::Handle folder, const char* from, const char* to, bool replace) override;
  int removeIn(RXM::sys::Handle folder, const char* name) override;
  int resolveLinks(const char* path, std::string* target) override;
  int checkWritable(const char* path) override;
  RXM::sys::Handle openLock(const char* path) override;
  int tryLock(RXM::sys::Handle handle) override;
  int unlock(RXM::sys::Handle handle) override;
  void pause(std::uint32_t milliseconds) override;
  std::FILE* createTemporary(const char* prefix, std::string* name) override;
  int removeAbandoned(const char* path) override;
  int placeNew(const char* from, const char* to) override;
  int copyAttributes(const char* model, std::FILE* stream) override;
  int stampModified(const char* path, std::int64_t nanoseconds) override;
  std::uint64_t copyRange(RXM::sys::Handle from, std::uint64_t offset, std::uint64_t size,
                          std::FILE* to) override;
  int makePrivateFolder(const char* path) override;
  int currentFolder(std::string* path) override;
  int temporaryFolder(std::string* path) override;

 private:
  // Whether this call (named `call`) is the one FailCall chose; sets errno.
  bool Fails(const char* call);
  // Counts `stream` (when not null) as opened; gives it back.
  std::FILE* Opened(std::FILE* stream);

  RXM::sys::System& real = RXM::sys::System::Default();
  std::mutex bookkeeping;  // guards opens, openStreams and strayCloses
  std::atomic<int> calls{0};
  std::atomic<int> failAt{0};
  std::atomic<const char*> failed{nullptr};
};

}  // namespace testing_support

#endif  // RXMFILES_TESTS_BACKENDS_FAULTYSYSTEM_H
