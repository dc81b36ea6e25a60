// A KYMF archive, opened for reading, in the modern face.
#ifndef RXM_ARCHIVE_HPP
#define RXM_ARCHIVE_HPP

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "framework/Export.h"
#include "rxm/Stream.hpp"

namespace rxm {

/// One record of an archive's directory, as stored.
struct Entry {
  /// The name as the record holds it (its letter case kept).
  std::string name;
  /// The entry's size in bytes (0 for a record whose end lies before its
  /// start).
  std::uint32_t size = 0;
  /// Where its data start in the archive's file: the record's dataStart,
  /// taken as unsigned (a damaged record's negative start reads as 2^32
  /// minus it).
  std::uint32_t offset = 0;
};

/// A KYMF archive opened for reading (format: docs/format.md): a range of
/// its entries in directory order, and reads of an entry by name. A thin
/// face over MultiFile: the directory is MultiFile's, a lookup is its lookup
/// (ASCII letters compared without regard to case; of equal names, the one
/// nearest the end of the directory), and a read checks MultiFile's rule of
/// whether an entry's bytes are its own and all in the file before it reads
/// anything.
///
/// The archive's file stays open until the object goes. Reads use their own
/// positions: find, read, read_text and open_entry may run on any number of
/// threads at once (as MultiFile::OpenEntry may). Move-only; a moved-from
/// archive is empty, and its reads throw kNotOpen.
///
///   for (const rxm::Entry& e : rxm::Archive::open("game.kymf")) ...
class RXMFILES_API Archive {
 public:
  /// Visits the entries in directory order, each made as it is reached (an
  /// input iterator: *it gives the Entry by value). Valid while the archive
  /// lives and is not moved from.
  class const_iterator {
   public:
    using iterator_category = std::input_iterator_tag;  ///< an input iterator
    using value_type = Entry;                           ///< what it visits
    using difference_type = std::ptrdiff_t;             ///< a distance in records
    using pointer = const Entry*;                       ///< a pointer to an Entry
    using reference = Entry;                            ///< *it: an Entry by value

    const_iterator() = default;
    /// The record at the iterator (as at()); throws as at() does past the end.
    Entry operator*() const { return archive->at(index); }
    /// Moves to the next record.
    const_iterator& operator++() {
      ++index;
      return *this;
    }
    /// Moves to the next record; returns the iterator as it was.
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++index;
      return before;
    }
    /// Whether both stand at the same record of the same archive.
    bool operator==(const const_iterator& other) const { return index == other.index; }
    /// Whether they stand at different records.
    bool operator!=(const const_iterator& other) const { return index != other.index; }

   private:
    friend class Archive;
    const_iterator(const Archive* of, std::size_t at) : archive(of), index(at) {}
    const Archive* archive = nullptr;
    std::size_t index = 0;
  };
  /// The records are only read: iterator is const_iterator.
  using iterator = const_iterator;

  /// Opens the archive at `pathOrUrl`: a path, or an http:// or https://
  /// URL (read with range requests through an HttpFile, with the options of
  /// the environment) and loads its directory. Throws rxm::Error with
  /// MultiFile's reason, naming the archive (a URL's credentials hidden):
  /// kNoSuchFile, kIsAFolder, kNotARegularFile, kCannotOpen (with the
  /// system's reason), kNotAnArchive, kCountBeyondFile, kShortRecord,
  /// kUnterminatedName, kNoMemory, or over the network kRemote... and
  /// kNetworkFailed; a name holding a NUL byte is kCannotOpen.
  static Archive open(std::string_view pathOrUrl);
  /// The same for a path (its native narrow form).
  template <class Path, std::enable_if_t<std::is_same<Path, std::filesystem::path>::value, int> = 0>
  static Archive open(const Path& path) {
    return open(std::string_view(path.string()));
  }

  /// Takes over `other`'s archive; `other` is left empty (see above).
  Archive(Archive&& other) noexcept;
  /// Closes this object's archive as the destructor does, then takes over
  /// `other`'s; `other` is left empty. Returns this object.
  Archive& operator=(Archive&& other) noexcept;
  /// Closes the archive's file; streams from open_entry stay readable.
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  /// The number of records in the directory (0 for a moved-from archive).
  std::size_t size() const;
  /// Whether the directory holds no record.
  bool empty() const { return size() == 0; }
  /// Record `index` (0 the first). Throws rxm::Error kNoSuchEntry for an
  /// index of size() or more.
  Entry at(std::size_t index) const;
  /// At the first record (equal to end() for an empty directory).
  const_iterator begin() const { return const_iterator(this, 0); }
  /// Past the last record.
  const_iterator end() const { return const_iterator(this, size()); }

  /// The record that a lookup of `name` finds, or none (also for a name
  /// holding a NUL byte, which no record can hold). The record is found
  /// whatever its offsets say; read() says whether its bytes can be had.
  /// Changes nothing.
  std::optional<Entry> find(std::string_view name) const;

  /// The whole entry that a lookup of `name` finds. Throws rxm::Error
  /// naming the archive and the entry: kNoSuchEntry ("<archive>: <name>: no
  /// such entry"), kImpossibleRange, kDamagedEntry or kTruncated (the
  /// record's bytes are not its own, or not all in the file: checked before
  /// anything is read), kReadFailed or kNoMemory, a read that ends early
  /// (the file shrank: kTruncated; over the network, the transfer's
  /// reason), kNotOpen for a moved-from archive. Changes nothing.
  /// After check_sums(), also kDamaged when the bytes read do not match the
  /// entry's line of the sums file ("<archive>: <name>: damaged: ...", both
  /// sums said), or kNoSuchEntry when the sums file has no line for it: the
  /// wrong bytes are never returned.
  std::vector<std::byte> read(std::string_view name) const;
  /// read(name)'s bytes as a std::string; throws as read() does.
  std::string read_text(std::string_view name) const;

  /// A stream over the entry that a lookup of `name` finds, at position 0,
  /// for reading it piece by piece. Throws as read() does before anything
  /// is read; the stream's own reads throw when the file ends early.
  Stream open_entry(std::string_view name) const;

  /// Reads the sums file beside the archive ("<archive>.sha256", or
  /// "<URL>.sha256"), to which read() and read_text() then hold every entry
  /// they read. True when there is one; false when there is none (nothing is
  /// checked then). Throws rxm::Error for a sums file that cannot be read or
  /// is no sums file, and kNotOpen for a moved-from archive.
  bool check_sums();

  /// The archive as messages name it: the path given, or the URL with any
  /// credentials hidden. Throws kNotOpen for a moved-from archive.
  std::string source() const;

  struct Impl;  // the library's own: the open archive

 private:
  explicit Archive(std::unique_ptr<Impl> opened);
  // The archive, or throws kNotOpen for a moved-from one.
  const Impl& Opened() const;
  // Throws kDamaged (or kNoSuchEntry) when sums are loaded and the `size`
  // bytes at `data`, the entry `name` read whole, do not match its sum.
  void CheckRead(std::string_view name, const void* data, std::size_t size) const;

  std::unique_ptr<Impl> impl;
};

}  // namespace rxm

#endif  // RXM_ARCHIVE_HPP
