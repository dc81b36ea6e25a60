// Building or changing a KYMF archive, in the modern face.
#ifndef RXM_ARCHIVEWRITER_HPP
#define RXM_ARCHIVEWRITER_HPP

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string_view>

#include "framework/Export.h"

namespace rxm {

/// Collects additions (and, keeping the existing archive, removals and
/// renamings), then writes them all in one pass with commit(): a thin face
/// over MultiFileWriter, whose rules hold (a temporary file beside the
/// archive put in its place in one step, the archive's lock held from the
/// first read of the existing archive until the new one is in place, the
/// replaced archive's permissions kept, a read-only archive refused).
/// Nothing is written before commit().
///
///   rxm::ArchiveWriter writer("game.kymf");
///   writer.add_file("levels/1.map", "src/levels/1.map");
///   writer.add_bytes("version.txt", std::string_view("1.0"));
///   writer.commit();
class RXMFILES_API ArchiveWriter {
 public:
  /// Writes the archive at `archive` (its native narrow form); with
  /// `keepExisting`, the entries of the archive already there come first,
  /// in their order, and remove() and rename() change them. Nothing is read
  /// or locked yet.
  explicit ArchiveWriter(std::filesystem::path archive, bool keepExisting = false);
  /// Gives up the archive's lock, if held; an uncommitted writer changes
  /// nothing.
  ~ArchiveWriter();
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  /// Adds the disk file `from` as the entry `name`, read at commit(). Throws
  /// rxm::Error at once for a name that no record may hold (kNameTooLong,
  /// kNameRefused: empty, absolute, "..", a backslash, a control character
  /// or NUL, ...), adding nothing; commit() reports the input's failures.
  void add_file(std::string_view name, const std::filesystem::path& from);
  /// Adds `size` bytes at `data`, copied now, as the entry `name`. Throws as
  /// add_file(), and kTooLarge for more bytes than an archive holds.
  void add_bytes(std::string_view name, const void* data, std::size_t size);
  /// Adds the bytes of `data`, copied now, as the entry `name`.
  void add_bytes(std::string_view name, std::string_view data) {
    add_bytes(name, data.data(), data.size());
  }

  /// Drops the kept entry `name` (ASCII case ignored; every record of that
  /// name). Throws rxm::Error, with nothing changed, when no kept entry has
  /// that name (kNoSuchEntry), the writer keeps nothing (kNotOpen), the
  /// existing archive cannot be read (its reason) or is locked by another
  /// writer (kBusy).
  void remove(std::string_view name);
  /// Gives the kept entry `from` the name `to`, keeping its place and data.
  /// Throws as remove(), and when `to` is refused (kNameRefused,
  /// kNameTooLong) or names another kept entry (kAlreadyExists).
  void rename(std::string_view from, std::string_view to);

  /// When set, an added entry replaces a kept one of the same name;
  /// otherwise commit() refuses such a name (kAlreadyExists). Off at first.
  void replace_existing(bool replace);
  /// When set, empty entries are written; otherwise commit() refuses them
  /// (kEmptyInput). Off at first.
  void allow_empty(bool allow);

  /// Writes the archive and puts it in place under its name. Throws
  /// rxm::Error with MultiFileWriter's reason (kNameRefused, kAlreadyExists,
  /// kReadFailed, kEmptyInput, kInputChanged, kTooLarge, kTruncated,
  /// kWriteFailed, kReplaceFailed, kReadOnly, kBusy, ...), the archive under
  /// its name then untouched and no temporary file left; the lock is kept
  /// until the writer goes, so that a second commit() builds on the same
  /// archive.
  void commit();

  struct Impl;  // the library's own: the MultiFileWriter

 private:
  std::unique_ptr<Impl> impl;
};

}  // namespace rxm

#endif  // RXM_ARCHIVEWRITER_HPP
