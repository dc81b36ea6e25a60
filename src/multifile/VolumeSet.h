// Volume sets: files past the format's 2,147,483,647 bytes kept as several
// archives that read as one (docs/volumes.md).
//
// The set of "game.kymf" is "game.kymf" itself, then "game.2.kymf",
// "game.3.kymf", ...: the number goes before the extension of the last path
// component ("data" gives "data.2"), and for a URL into its path, before any
// "?" or "#". A set is every volume from the first up to the first number
// that has nothing under its name (for a URL: the first that answers 404).
// Each volume is an ordinary archive, no entry is split across two, and the
// set reads as one archive whose directory is the volumes' directories one
// after the other: of equal names, the one in the later volume is found.
//
// This file owns the rule: kymf and SearchPath name, find and plan volumes
// only through these functions.
#ifndef RXMFILES_MULTIFILE_VOLUMESET_H
#define RXMFILES_MULTIFILE_VOLUMESET_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/Status.h"
#include "framework/Export.h"

namespace RXM {
namespace sys {
class System;
}

// The most volumes a set has: discovery stops there, and a plan needing more
// is refused, so that a server that answers every name ends all the same.
constexpr int kMostVolumes = 9999;

// The name of volume `number` of the set whose first volume is `first`:
// `first` itself for 1 (and anything below); for 2 and up ".<number>"
// inserted before the extension of the last component ("a.d/x.kymf" gives
// "a.d/x.3.kymf"; a name without extension, or one whose only dot leads it,
// gets it appended: ".kymf" gives ".kymf.3"). A URL's query and fragment
// stay after it ("https://h/x.kymf?t=1" gives "https://h/x.2.kymf?t=1").
RXMFILES_API std::string VolumeName(const std::string& first, int number);

// The number of the volume that `candidate`, a file name in the folder of
// `first`, is in the set of `first` (its last component alone is compared);
// 0 when it is none of volumes 2 and up ("x.02.kymf" is none).
RXMFILES_API int VolumeNumberOf(const std::string& first, const std::string& candidate);

// The volumes of the set of the local name `first`, in order: `first` itself
// (always, even when nothing has that name, so that opening it says why),
// then each further volume that exists, examined through `system`'s inspect,
// up to the first number that names nothing.
RXMFILES_API std::vector<std::string> FindVolumes(sys::System& system, const std::string& first);

// The same for the http(s) URL `first`: each further volume is probed with
// an HttpFile (options of the environment) until one answers 404
// (kRemoteNotFound). Ok with the URLs in *volumes; any other failure of a
// probe is returned (naming that volume's URL, redacted), since the set's
// end is then unknown.
RXMFILES_API Status FindRemoteVolumes(const std::string& first, std::vector<std::string>* volumes);

// The volumes of the set of the local name `first` that no reader sees: files
// named as volumes numbered past `found` (the number of volumes that
// FindVolumes gave), left after a missing one. Their names, by number;
// empty when the folder holds none or cannot be listed.
RXMFILES_API std::vector<std::string> FindStrayVolumes(sys::System& system,
                                                       const std::string& first, int found);

// What a volume holds already: records and the bytes of the whole file.
struct VolumeFill {
  std::int64_t records = 0;
  std::int64_t bytes = 0;  // header, directory and data; 0 for no file yet
};

// Divides entries of `sizes` bytes, in order, into volumes of at most `limit`
// bytes each (header, directory and data), filling each in turn: the first
// is the open volume `open` (an existing last volume, or an empty new one);
// an entry that does not fit goes to a new volume. Ok with (*starts)[k] the
// index of the first entry of volume k (starts[0] is 0; a volume that gets
// no entry starts where the next one does); at least one volume. kTooLarge
// when an entry does not fit even an empty volume ("entry N: S bytes do not
// fit a volume of L bytes", its index then in *refused when given), or more
// than kMostVolumes would be needed; `limit` above the format's largest
// archive is taken as it.
RXMFILES_API Status PlanVolumes(const std::vector<std::uint64_t>& sizes, std::int64_t limit,
                                VolumeFill open, std::vector<std::size_t>* starts,
                                std::size_t* refused = nullptr);

}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_VOLUMESET_H
