// The folder that extraction writes into, and the only way kymf creates
// files from entry names.
//
// It never writes through, or follows, a link it finds below the folder (the
// folder itself is the user's choice and may be reached through one):
//
// - every folder on the way to a file is reached (and made when missing) by
//   the library's one walk below a folder, RXM::sys::System::openFolderBelow,
//   which never follows a link; a link on the way refuses that file, and on
//   Windows so does a device name (RXM::IsDeviceName) on the way or as the
//   file's own name;
// - the data go to a new temporary file in the target's folder (created
//   exclusively, O_CREAT|O_EXCL|O_NOFOLLOW, by the seam's createIn on the
//   folder's handle), which is then renamed into place (renameIn), so a failure leaves no partial
//   file, and an existing link or hard link under the target's name is replaced as a directory
//   entry, never opened or written into.
//
// On Windows the checks and the creation are separate calls, so a link made
// between them by another program is not seen; POSIX has no such gap for
// the folders on the way.
#ifndef KYMF_SUPPORT_TARGETFOLDER_H
#define KYMF_SUPPORT_TARGETFOLDER_H

#include <cstddef>
#include <functional>
#include <string>

#include <RXMFiles.h>

#include "backends/System.h"

namespace kymf {

class TargetFolder {
 public:
  // What to do when something already exists under a file's name.
  enum class Existing {
    kRefuse,   // fail for that file
    kKeep,     // leave it, and report the file as kept
    kReplace,  // replace it (a file, a symbolic link or a hard link) by the new file
  };
  // What --force (replace) and -k (keep) ask for; refuse without either.
  static Existing PolicyFor(bool force, bool keep) {
    return force ? Existing::kReplace : keep ? Existing::kKeep : Existing::kRefuse;
  }
  // Writes `size` bytes to the new file; false when the write failed.
  using Write = std::function<bool(const void* data, std::size_t size)>;
  // Produces the file's bytes through `write`; Ok, or why it could not.
  using Fill = std::function<RXM::Status(const Write& write)>;

  // Every call to the system goes through `system`, which must outlive it.
  explicit TargetFolder(RXM::sys::System& calls = RXM::sys::System::Default()) : system(calls) {}
  ~TargetFolder() = default;
  TargetFolder(const TargetFolder&) = delete;
  TargetFolder& operator=(const TargetFolder&) = delete;

  // Opens the existing folder `path` ("" for the current one). Ok, or
  // kNoSuchFile / kCannotOpen (with the system's text) naming it.
  RXM::Status Open(const std::string& path);

  // Creates the regular file `name` (a "/"-separated safe name) below the
  // folder, creating the folders on its way, with the bytes `fill` gives.
  // Ok (with *kept true when kKeep left an existing file), or a failure
  // naming the file: an unsafe name (kNameRefused, RXM::CheckSafeName), a
  // link or a non-folder on the way, something existing
  // under the name (kRefuse; a folder always), a failed write or `fill`'s
  // own failure. On failure no file is left under the name, and an existing
  // one is unchanged.
  RXM::Status Place(const std::string& name, Existing existing, const Fill& fill, bool* kept);

  // The path shown for `name` in messages: "<folder>/<name>".
  std::string Shown(const std::string& name) const;

 private:
  struct Folder;
  RXM::Status OpenParent(const std::string& name, Folder& parent) const;
  RXM::Status CheckExisting(const Folder& parent, const std::string& name, Existing existing,
                            bool* exists, bool* kept) const;
  RXM::Status FillNewFile(const Folder& parent, const std::string& name, const Fill& fill,
                          std::string& temporary, int& slot) const;
  RXM::Status WriteAndRename(const Folder& parent, const std::string& name, bool replace,
                             const Fill& fill) const;

  RXM::sys::System& system;
  std::string path;
};

}  // namespace kymf

#endif  // KYMF_SUPPORT_TARGETFOLDER_H
