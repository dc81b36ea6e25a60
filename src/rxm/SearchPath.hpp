// One namespace over folders, archives and modules, in the modern face.
#ifndef RXM_SEARCHPATH_HPP
#define RXM_SEARCHPATH_HPP

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "framework/Export.h"
#include "rxm/Stream.hpp"

namespace rxm {

/// What a name of a search path is.
enum class Kind { file, folder };

/// What SearchPath::stat finds under a name.
struct Stat {
  /// A file or a folder.
  Kind kind = Kind::file;
  /// A file's size in bytes; 0 for a folder.
  std::uint32_t size = 0;
};

/// Folders on disk, KYMF archives (by path or http(s) URL) and Windows
/// modules in one tree of "/"-separated names, each source mounted at a
/// mount point; a name is looked up in the sources in search order and the
/// first that has it answers. A thin face over the library's SearchPath,
/// whose rules hold: names must be safe (relative, no "." or "..", no
/// backslash, drive letter or control character), an archive matches names
/// with ASCII case folded, a module as "TYPE/NAME", a folder as the file
/// system does without following links out of it. Every operation may run
/// on any number of threads at once.
class RXMFILES_API SearchPath {
 public:
  /// Empty: no source.
  SearchPath();
  /// Drops every source; streams from open() stay readable.
  ~SearchPath();
  SearchPath(const SearchPath&) = delete;
  SearchPath& operator=(const SearchPath&) = delete;

  /// Mounts the folder, archive (known by its magic), Windows module or
  /// archive URL `source` at `mountPoint` ("" the root), last in search
  /// order with `append`, first otherwise; a source mounted already stays
  /// where it is. Throws rxm::Error, nothing mounted: kNameRefused for the
  /// mount point, the open's reason (kNoSuchFile, kCannotOpen, ...), the
  /// archive reader's for a file with the KYMF magic, kNotAModule for a file
  /// that is neither.
  void mount(std::string_view source, std::string_view mountPoint = "", bool append = true);
  /// The same for a path (its native narrow form).
  template <class Path, std::enable_if_t<std::is_same<Path, std::filesystem::path>::value, int> = 0>
  void mount(const Path& source, std::string_view mountPoint = "", bool append = true) {
    mount(std::string_view(source.string()), mountPoint, append);
  }
  /// Removes the source mounted as exactly `source`; false when none is.
  /// Streams open over it stay readable.
  bool unmount(std::string_view source);

  /// Whether a lookup of `name` finds a file that can be read; false for a
  /// refused name. Changes nothing.
  bool exists(std::string_view name) const;

  /// What is under `name`: a file (the first source in search order that
  /// has it, and its size), else a folder (the root "", a mount point or a
  /// folder above one, a folder on disk, the folder part of an archive's
  /// entry names, a module's resource type), else none. Throws rxm::Error
  /// for a refused name (kNameRefused) and when the first source that has
  /// the file refuses it (kTruncated, kDamagedEntry, kImpossibleRange,
  /// naming the archive and the entry).
  std::optional<Stat> stat(std::string_view name) const;

  /// The whole file `name`, from the first source in search order that has
  /// it. Throws rxm::Error: kNameRefused, kNoSuchEntry ("<name>: no such
  /// entry"), the refusal of the first source that has it (kTruncated, ...,
  /// which hides the sources after it), a read that ends early, kNoMemory.
  std::vector<std::byte> read(std::string_view name) const;
  /// read(name)'s bytes as a std::string; throws as read() does.
  std::string read_text(std::string_view name) const;
  /// A stream over `name` at position 0; throws as read() does before
  /// anything is read.
  Stream open(std::string_view name) const;

  /// The names directly in `folder` ("" the root) over every source, each
  /// once, in byte order: files, folders and the first components of mount
  /// points below it. Throws rxm::Error kNameRefused for a refused folder.
  std::vector<std::string> list(std::string_view folder = "") const;
  /// Every file below `folder`, at any depth, as a full name ("a/b/c"), in
  /// byte order of each folder's listing, depth first. Throws as list().
  /// Files that a source refuses are listed too (read() says why); a name
  /// that is a file is not entered as a folder of another source.
  std::vector<std::string> walk(std::string_view folder = "") const;

  struct Impl;  // the library's own: the SearchPath

 private:
  std::unique_ptr<Impl> impl;
};

}  // namespace rxm

#endif  // RXM_SEARCHPATH_HPP
