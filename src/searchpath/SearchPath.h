#ifndef RXMFILES_SEARCHPATH_SEARCHPATH_H
#define RXMFILES_SEARCHPATH_SEARCHPATH_H

#include <memory>
#include <string>
#include <vector>

#include "files/KYFile.h"
#include "files/Status.h"
#include "framework/Export.h"
#include "framework/Pointer.h"
#include "framework/String.h"

namespace RXM {
namespace sys {
class System;
}

/// A name of a search path's folder and what it is over every source.
struct ListedName {
  std::string name;     ///< as the source that has it spells it
  bool file = false;    ///< some source has a file of this name (Open finds the first)
  bool folder = false;  ///< some source has names below it, or a mount point does
};
}  // namespace RXM

// <windows.h> names the Win32 function SearchPath as a macro (SearchPathA or
// SearchPathW). This header does not include it; when a program included it
// before, the macro is dropped here and the class takes the name. A program
// that includes <windows.h> after this header drops it itself (#undef
// SearchPath). Programs that want the Win32 function call SearchPathA or
// SearchPathW by name.
#if defined(SearchPath)
#undef SearchPath
#endif

/// One namespace of "/"-separated names over folders on disk, KYMF archives
/// and Windows modules, each mounted at a mount point ("" the root, or a safe
/// name such as "data/music"). A name is looked up in the sources in search
/// order; the first source that has it answers. Mounting with `append` false
/// puts a source first, so a patch archive mounted after its base overrides
/// it.
///
/// Every name (and mount point) must be a safe name before any source
/// sees it: relative, no "." or ".." component, no backslash, no drive letter,
/// no control character. A mount point matches the front of a name exactly;
/// below it an archive matches names as its own lookup does (ASCII letters
/// folded), a module as Windows matches resource names ("TYPE/NAME", types by
/// their Windows names such as "RCDATA", ASCII letters folded), and a folder as
/// the file system does. A folder is entered one component at a time relative
/// to its root, never through a symbolic link (on Windows, a reparse point),
/// so no name reaches outside it; see the seam's openBelow.
///
/// Threads: every operation may be called from any number of threads at once.
/// Mount and Unmount build a new list of mounts beside the current one (one
/// at a time, under a mutex of this object) and publish it at once to every
/// processor's copy; Open, Exists, GetSize and List take the list current
/// when they start from the copy of the processor they run on (a short lock
/// and a reference count that other processors do not write, so that threads
/// on different processors do not slow each other), and hold no lock while
/// they look up, open or list. Sources never change once mounted. A stream that Open returned is
/// its own object for one thread at a time; it keeps its source readable after
/// the source is unmounted or the SearchPath is destroyed.
class RXMFILES_API SearchPath {
 public:
  /// Empty: no source.
  SearchPath();
  /// Empty, with every source mounted later read through `system` (which must
  /// outlive the object and every stream it opens): the folders', archives'
  /// and modules' reads (on Windows the system's loader maps a module; its
  /// file is examined through `system`).
  explicit SearchPath(RXM::sys::System& system);
  ~SearchPath();
  SearchPath(const SearchPath&) = delete;
  SearchPath& operator=(const SearchPath&) = delete;

  /// Adds the folder, the KYMF archive (known by its "KYMF" magic, whatever
  /// its name) or the Windows module at `source`, or the KYMF archive at an
  /// http:// or https:// URL (read through an HttpFile, with the options of
  /// the environment: RemoteOptions::FromEnvironment), under `mountPoint`; `append`
  /// true puts it last in search order, false first. True when mounted, also
  /// when `source` is mounted already (it then stays where it is). False when
  /// `source` is none of the three or cannot be read, or when `mountPoint` is
  /// neither "" nor a safe name.
  ///
  /// An archive comes with the later volumes of its set ("NAME.2.kymf",
  /// "NAME.3.kymf", ... up to the first missing one; over the network, up to
  /// the first that answers 404; see docs/volumes.md), mounted in the same
  /// call as consecutive sources under the same mount point, in volume order
  /// from the last: the last volume is searched first and `source` itself
  /// last of them, as a lookup in one archive finds the later of two equal
  /// names. A volume that cannot be read fails the whole Mount, with
  /// nothing mounted. Unmount(source) removes them together.
  bool Mount(const String& source, const String& mountPoint, bool append);
  /// The same, and why not: `why` is Ok when mounted; otherwise kNameRefused
  /// for the mount point, RXM::OpenFailure's reason when nothing can be
  /// opened under `source` (kNoSuchFile, kCannotOpen refused or busy, ...),
  /// kNotAnArchive for something that is neither file nor folder, the archive
  /// reader's reason (MultiFile::GetStatus) for a file or URL with the KYMF
  /// magic, and otherwise the module reader's (LoadResourceModule: kNotAModule
  /// for a file that is neither).
  bool Mount(const String& source, const String& mountPoint, bool append, RXM::Status& why);
  /// With `check` set, each archive mounted from then on reads the sums file
  /// beside it ("<archive>.sha256", or "<URL>.sha256"), and Open reads an
  /// entry of it whole and holds it to its sum before giving a stream: a
  /// mismatch fails the Open with kDamaged (the entry and both sums named),
  /// never the wrong bytes. An archive without a sums file is not checked.
  /// Off by default; archives mounted before are left as they were.
  void SetCheckSums(bool check);

  /// Removes the source mounted under exactly the text `source` (an archive's
  /// whole set of volumes); false when none is. Streams open over it stay
  /// readable.
  bool Unmount(const String& source);

  /// A new read-only stream over `name` from the first source in search order
  /// that has it, at position 0; `why` is then Ok. Null when the name is no
  /// safe name (kNameRefused), when no source has it (kNoSuchEntry), or when
  /// the first source that has it refuses it (an archive's entry whose bytes
  /// are not its own or not all in its file, as MultiFile::CheckEntry says:
  /// kImpossibleRange, kDamagedEntry or kTruncated, naming the archive and the
  /// entry), which hides the sources after it. A stream ends at a short read
  /// (a file that shrinks while it is read): EndOfFile turns true.
  Pointer<KYFile> Open(const String& name, RXM::Status& why) const;
  /// The same, for a caller who needs no reason.
  Pointer<KYFile> Open(const String& name) const;

  /// Whether Open(name) would find something.
  bool Exists(const String& name) const;

  /// The size in bytes of what Open(name) would open; -1 when nothing.
  long GetSize(const String& name) const;
  /// The same, and why not: `why` is Ok with a size; otherwise it is what
  /// Open(name, why) would say (kNameRefused, kNoSuchEntry, or the refusal of
  /// the first source that has the name), without opening anything.
  long GetSize(const String& name, RXM::Status& why) const;

  /// Whether `name` is a folder: "" (the root), a mount point or a folder
  /// above one, or a folder in a source below its mount point (a folder on
  /// disk, even an empty one; the folder part of an archive's entry names; a
  /// module's resource type). False for a refused name.
  bool IsFolder(const String& name) const;

  /// The names directly in `folder` ("" the root) over every source, each once,
  /// in byte order: files, folders, and the first components of mount points
  /// below `folder`. Empty for a refused name.
  std::vector<std::string> List(const String& folder) const;
  /// The same, and why an empty list: `why` is kNameRefused for a refused
  /// name ("<folder>: name refused: <fault>"), Ok otherwise.
  std::vector<std::string> List(const String& folder, RXM::Status& why) const;
  /// List's names, each with what it is, from what the sources know of their
  /// folders (an archive's index of its names, a folder's listing): nothing
  /// is opened. A name can be both a file and a folder, as an archive may
  /// hold "a" and "a/b", or as two sources may disagree; Open finds the file.
  /// A file that its source refuses is listed as a file (GetSize says why).
  /// `why` as List sets it.
  std::vector<RXM::ListedName> ListKinds(const String& folder, RXM::Status& why) const;

 private:
  struct Mounts;
  std::shared_ptr<const Mounts> Current() const;
  // Builds the next list from the current one with `change` and swaps it in.
  // false when `change` leaves the list as it was.
  template <class Change>
  bool Update(Change change);

  struct Shared;
  std::unique_ptr<Shared> shared;
};

#endif  // RXMFILES_SEARCHPATH_SEARCHPATH_H
