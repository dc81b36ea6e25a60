// kymf mount: an archive, several archives or a search path as one read-only
// folder, served by FUSE (mount/FuseServer.h) until kymf umount.
//
//   kymf mount game.kymf mnt/                          # in the background
//   kymf mount -f --path base.kymf --path mods/ mnt/   # in the foreground
//   kymf mount -o allow_other game.kymf mnt/           # options for FUSE
//   kymf umount mnt/
//
// Sources are searched as `kymf cat --path` searches them: the last one
// given first.
#include <algorithm>
#include <cerrno>

#include "Commands.h"
#include "backends/System.h"
#include "files/Url.h"
#include "mount/FuseOptions.h"
#include "mount/FuseServer.h"
#include "mount/MountLayer.h"
#include "mount/MountTable.h"

namespace kymf {
namespace {

using mount::MountLayer;

// The sources, searched first first: the last one given leads.
bool OpenSources(const Options& options, std::vector<std::unique_ptr<MountLayer>>& layers,
                 Reporter& reporter) {
  const bool path = !options.paths.empty();
  std::vector<std::string> sources = path ? options.paths : options.inputs;
  if (!path) {
    sources.pop_back();  // the mount point
  }
  for (auto source = sources.rbegin(); source != sources.rend(); ++source) {
    RXM::Status status;
    std::unique_ptr<MountLayer> layer =
        path ? mount::OpenPathSource(*source, status, options.check)
             : mount::OpenArchiveSource(*source, status, options.check);
    if (!layer) {
      reporter.Fail(status);
      return false;
    }
    layers.push_back(std::move(layer));
  }
  return true;
}

// What the sources left out, said once for the mount.
void ReportLeftOut(const mount::LayerReport& report, const std::string& shown, Reporter& reporter) {
  const auto names = [](std::uint64_t count) {
    return std::to_string(count) + (count == 1 ? " name" : " names") + " not shown: ";
  };
  if (report.unsafe != 0) {
    reporter.Warn(shown, names(report.unsafe) +
                             "no safe paths (absolute, \"..\", backslashes or control characters)");
  }
  if (report.conflicts != 0) {
    reporter.Warn(shown, names(report.conflicts) +
                             "a file and a folder of the same name (the one found first is shown)");
  }
}

// Whether `point` is a folder that is no kymf mount point yet (a second
// mount would hide the first, and each would need its own unmounting);
// otherwise says why: the system's reason when nothing is there or it
// cannot be examined.
bool CheckMountPoint(const std::string& point, Reporter& reporter) {
  std::string mounted;
  if (mount::FindKymfMount(point, mounted)) {
    reporter.Fail(point, "is already the mount point of a kymf mount (of " + mounted +
                             "); kymf umount " + point + " first");
    return false;
  }
  RXM::sys::FileInfo info;
  const bool examined = RXM::sys::System::Default().inspect(point.c_str(), &info) == 0;
  if (examined && info.kind == RXM::sys::FileKind::kFolder) {
    return true;
  }
  if (examined && info.kind != RXM::sys::FileKind::kMissing) {
    reporter.Fail(point, "the mount point is not a folder");
  } else {
    reporter.Fail(
        point, "the mount point cannot be used: " + SystemReason(examined ? ENOENT : info.error));
  }
  return false;
}

}  // namespace

int MountCommand(const Options& options, Reporter& reporter) {
  const bool path = !options.paths.empty();
  if (options.inputs.empty() || (path && options.inputs.size() != 1) ||
      (!path && options.inputs.size() < 2)) {
    reporter.Usage(path ? "mount --path SOURCE... takes one MOUNTPOINT"
                        : "mount needs an archive and a MOUNTPOINT");
    return kUsage;
  }
  // The file system's name (/proc/mounts, readable by every user) too.
  const std::string shown = RXM::RedactUrl(path ? options.paths.back() : options.inputs.front());
  mount::ServeOptions serve;
  std::string refused;
  serve.fuseOptions = mount::FuseOptions(shown, options.fuseOptions, refused);
  if (!refused.empty()) {
    reporter.Usage("mount " + refused);
    return kUsage;
  }
  const std::string why = mount::WhyMountingUnavailable();
  if (!why.empty()) {
    reporter.Fail("mounting is not available here", why);
    return kFailure;
  }
  const std::string& point = options.inputs.back();
  if (!CheckMountPoint(point, reporter)) {
    return kFailure;
  }
  // Absolute: in the background the server runs from "/".
  std::string resolved;
  const int unresolved = mount::ResolveMountPoint(RXM::sys::System::Default(), point, resolved);
  if (unresolved != 0) {
    reporter.Fail(point, "the mount point cannot be used: " + SystemReason(unresolved));
    return kFailure;
  }
  std::vector<std::unique_ptr<MountLayer>> layers;
  if (!OpenSources(options, layers, reporter)) {
    return kFailure;
  }
  if (layers.size() > UINT16_MAX) {
    reporter.Usage("mount takes at most 65535 sources");
    return kUsage;
  }
  const mount::MountedFiles files = mount::Assemble(std::move(layers));
  ReportLeftOut(files.report, shown, reporter);
  serve.mountPoint = resolved;
  serve.foreground = options.foreground;
  return mount::Serve(files, serve, reporter);
}

int UmountCommand(const Options& options, Reporter& reporter) {
  const std::string& point = options.inputs.front();
  std::string mounted;
  if (!mount::FindKymfMount(point, mounted)) {
    reporter.Fail(point,
                  "is not the mount point of a kymf mount; kymf umount unmounts only "
                  "what kymf mount mounted");
    return kFailure;
  }
  // fusermount3 takes the mount point the table names, not a link to it:
  // the same resolution that found the mount (the point as written when it
  // cannot be resolved).
  std::string resolved = point;
  mount::ResolveMountPoint(RXM::sys::System::Default(), point, resolved);
  const int code = mount::Unmount(resolved, reporter);
  if (code == kSuccess) {
    reporter.Verbose("unmounted " + mounted + " from " + point);
  }
  return code;
}

}  // namespace kymf
