// An archive opened for reading by a command: by name, by http(s) URL, or "-"
// for standard input (copied to a temporary file first, since the library
// reads archives by name), with the failure reported in the library's own
// words. A name or URL opens its whole volume set (multifile/VolumeSet.h):
// the records are the volumes' directories one after the other, indexed
// across the set, and of equal names the later one is found.
#ifndef KYMF_SUPPORT_OPENEDARCHIVE_H
#define KYMF_SUPPORT_OPENEDARCHIVE_H

#include <memory>
#include <string>
#include <vector>

#include <RXMFiles.h>

#include "multifile/ArchiveSums.h"

#include "support/Reporter.h"
#include "support/Selection.h"
#include "support/TemporaryArchive.h"

namespace kymf {

class OpenedArchive {
 public:
  // Opens `path` and, unless `alone` or it is "-", the volumes after it;
  // false, reported ("kymf: t.kymf: no such file", "kymf: t.2.kymf: not a
  // KYMF archive", ...), when one of them cannot be read as an archive or
  // the end of a set over the network cannot be known.
  bool Open(const std::string& path, Reporter& reporter, bool alone = false);

  // The volumes opened: 1 for an archive that is no set.
  std::size_t GetVolumeCount() const { return volumes.size(); }
  MultiFile& GetVolume(std::size_t volume) { return volumes[volume]->archive; }
  // The archive (the volume) that holds record `index`.
  MultiFile& GetArchive(int index) { return VolumeOf(index).archive; }
  // Record `index` as its volume holds it (offsets are that file's).
  const MultiFileElement& GetRecord(int index) const;
  int GetCount() const { return count; }
  // The stored name of record `index`.
  std::string GetName(int index) const;
  // The entry's size in bytes.
  std::uint32_t GetSize(int index) const;
  // Ok when the archive's file holds every byte of record `index` and they
  // are its own; otherwise why not: the library's kTruncated, or
  // kDamagedEntry with verify's finding ("...: data inside the header: ...").
  // Cat and extract give nothing of such an entry.
  RXM::Status CheckEntry(int index);
  // Whether a later record has an equal name, so that a lookup by this
  // record's name finds the later one instead.
  bool IsShadowed(int index) const { return GetShadowedBy(index) >= 0; }
  // The record a lookup by this record's name finds instead (the last of
  // equal names), or -1 when it is not shadowed.
  int GetShadowedBy(int index) const { return shadowedBy[static_cast<std::size_t>(index)]; }
  // Reports a failure the library gave about this archive; for "-" the
  // temporary copy that the library names is said as "-".
  void Fail(const RXM::Status& status, Reporter& reporter) const;
  // The name shown in messages: the path given (a URL's credentials hidden).
  const std::string& GetShown() const { return shown; }
  // Whether the archive is read over the network.
  bool IsRemote() const { return remote; }
  // Why reading record `index` stopped short: over the network, what the
  // library knows (the object changed, an answer other than the one asked
  // for, a reset connection, a deadline) as "<entry>: <archive>: <reason>";
  // otherwise kReadFailed, "<archive>: <entry>: read failed" (the archive
  // being the volume that holds it).
  RXM::Status ReadFailure(int index) const;

  // The sums file beside the first volume ("<archive>.sha256"; for a URL,
  // fetched from "<URL>.sha256"), into *sums; each volume has its own. kNoSuchFile (or
  // kRemoteNotFound) when there is none; standard input never has one. *stale says whether it is
  // written before the archive file was made (the archive was replaced since).
  RXM::Status ReadSums(std::vector<RXM::EntrySum>* sums, bool* stale);
  // The SHA-256 of record `index`'s bytes (which CheckEntry must allow),
  // read in large blocks at their offsets.
  RXM::Status HashEntry(int index, std::string* hex);
  // Ok when record `index`'s bytes match its line in `sums`; kDamaged (both
  // sums said) when they do not, kNoSuchEntry when the sums file has no line
  // for it. `stale` adds that the sums file predates the archive file.
  RXM::Status CheckSum(int index, const std::vector<RXM::EntrySum>& sums, bool stale);
  // For --check: reads each volume's sums file that CheckAgainstSums then
  // holds its entries to; false, reported, when one has none or it cannot
  // be read.
  bool LoadSumsForCheck(Reporter& reporter);
  // Ok when no check was asked for (LoadSumsForCheck not called) or the
  // entry's bytes match its sum; otherwise why none of it may be written.
  RXM::Status CheckAgainstSums(int index);
  ~OpenedArchive();

 private:
  struct Volume {
    MultiFile archive;
    Pointer<HttpFile> remoteFile;  // what a URL is read through
    std::string file;              // what the library opened: the path, the URL or the staged copy
    std::string shown;
    int first = 0;              // the set's index of its first record
    std::intptr_t handle = -1;  // for HashEntry, once asked
    bool checkStale = false;
    std::vector<RXM::EntrySum> checkSums;  // --check
  };
  bool OpenVolume(const std::string& file, Reporter& reporter);
  Volume& VolumeOf(int index) const;
  RXM::Status ReadSumsOf(const Volume& volume, std::vector<RXM::EntrySum>* sums, bool* stale) const;
  void FindShadowed();

  std::vector<std::unique_ptr<Volume>> volumes;
  std::vector<int> volumeOf;  // by record: its volume
  int count = 0;
  TemporaryArchive standardInput;
  std::string shown;
  bool remote = false;
  bool checking = false;  // --check: every entry against its volume's checkSums
  std::vector<int> shadowedBy;
};

// The volumes of the set that `path` begins (multifile/VolumeSet.h): on disk
// those that exist, over the network those that answer, in order; "-" alone
// for standard input. Ok, or why the end of a set over the network is
// unknown (the failed probe's reason).
RXM::Status ListVolumes(const std::string& path, std::vector<std::string>* volumes);

// Reports each pattern of `selection` that selected nothing: "kymf:
// <archive>: <pattern>: no such entry".
void ReportUnmatched(const Selection& selection, const std::string& archive, Reporter& reporter);

}  // namespace kymf

#endif  // KYMF_SUPPORT_OPENEDARCHIVE_H
