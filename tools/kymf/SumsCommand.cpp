// sums: the sums file beside an archive, written anew: a SHA-256 sum per
// entry in sha256sum's format, which verify, cat --check, extract --check and
// mount --check then hold the entries to, and which writers keep current.
#include <cstdio>

#include "Commands.h"
#include "files/Url.h"
#include "multifile/ArchiveDigest.h"
#include "multifile/ArchiveSums.h"
#include "multifile/VolumeSet.h"
#include "support/NameEscaping.h"

namespace kymf {

int SumsCommand(const Options& options, Reporter& reporter) {
  if (options.archive == "-" || RXM::IsRemoteUrl(options.archive.c_str())) {
    reporter.Usage("sums writes a file beside the archive: give the archive's file name");
    return kUsage;
  }
  const RXM::LockWait wait = LockWaitOf(options);
  // Each volume of a set has its own sums file.
  for (const std::string& volume : RXM::FindVolumes(RXM::sys::System::Default(), options.archive)) {
    int count = 0;
    const RXM::Status written =
        RXM::RefreshSums(RXM::sys::System::Default(), volume, wait, &count, Processors());
    if (!written.IsOk()) {
      reporter.Fail(written);
      return kFailure;
    }
    if (!reporter.IsQuiet()) {
      std::printf("wrote %d %s to %s\n", count, count == 1 ? "sum" : "sums",
                  EscapeName(RXM::SumsPathOf(volume)).c_str());
    }
  }
  return kSuccess;
}

}  // namespace kymf
