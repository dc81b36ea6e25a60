#include "support/FileIdentity.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace kymf {

#if defined(_WIN32)

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity identity;
  // FILE_FLAG_BACKUP_SEMANTICS opens folders too; no access is asked for.
  const HANDLE handle =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return identity;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(handle, &info)) {
    identity.device = info.dwVolumeSerialNumber;
    identity.file = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    identity.known = true;
  }
  CloseHandle(handle);
  return identity;
}

#else

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity identity;
  struct stat info;
  if (::stat(path.c_str(), &info) == 0) {
    identity.device = static_cast<std::uint64_t>(info.st_dev);
    identity.file = static_cast<std::uint64_t>(info.st_ino);
    identity.known = true;
  }
  return identity;
}

#endif

}  // namespace kymf
