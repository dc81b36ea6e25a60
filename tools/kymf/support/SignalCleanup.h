// The files kymf is in the middle of making, removed when a signal ends it
// (SIGINT, SIGTERM, SIGHUP, SIGPIPE; on Windows SIGINT and SIGTERM), so that
// an interrupted command leaves nothing of its own. SIGXFSZ is ignored: a
// file-size limit fails the write, which kymf reports and cleans up after.
//
// The handler removes every registered file with async-signal-safe calls
// only (unlinkat), then restores the signal's default action and raises it
// again, so the program still ends as the signal meant. A registration is a
// slot of a fixed table, filled before the slot is marked used, so the
// handler never sees half a name.
#ifndef KYMF_SUPPORT_SIGNALCLEANUP_H
#define KYMF_SUPPORT_SIGNALCLEANUP_H

namespace kymf {

class SignalCleanup {
 public:
  // The folder argument that means: `name` is a path (from the current
  // folder, or absolute). On POSIX, Add also takes a folder's descriptor.
  static constexpr int kPath = -100;

  // Installs the handler and ignores SIGXFSZ, once; later calls do nothing.
  static void Install();
  // Gives the signals back their earlier actions, for a command that ends on
  // signals its own way (mount: libfuse sets its handlers only over the
  // default action) and makes no files of its own.
  static void Uninstall();
  // Registers the file (or, with `folder` true, the empty folder) `name` in
  // the folder `at` to be removed by a signal. The slot to give Drop, or -1
  // when the table is full or the name too long (the file is then not
  // removed by a signal, only by its owner).
  static int Add(int at, const char* name, bool folder = false);
  // Forgets slot `slot` (-1: nothing), once its file is gone or in place.
  static void Drop(int slot);
};

}  // namespace kymf

#endif  // KYMF_SUPPORT_SIGNALCLEANUP_H
