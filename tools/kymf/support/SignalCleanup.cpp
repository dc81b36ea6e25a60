#include "support/SignalCleanup.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <initializer_list>

#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kymf {
namespace {

constexpr int kSlots = 16;
constexpr std::size_t kLongestName = 1024;

enum State : int { kFree, kFilling, kUsed };

struct Slot {
  std::atomic<int> state{kFree};
  int at = SignalCleanup::kPath;
  bool folder = false;
  char name[kLongestName];
};

Slot gSlots[kSlots];
std::atomic<bool> gInstalled{false};

#if defined(_WIN32)
const int kSignals[] = {SIGINT, SIGTERM};
#else
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
#endif

// Files before folders: a staging folder is empty only once its file is gone.
void RemoveRegistered() {
  for (const bool folders : {false, true}) {
    for (Slot& slot : gSlots) {
      if (slot.state.load() != kUsed || slot.folder != folders) {
        continue;
      }
#if defined(_WIN32)
      if (folders) {
        _rmdir(slot.name);
      } else {
        _unlink(slot.name);
      }
#else
      ::unlinkat(slot.at == SignalCleanup::kPath ? AT_FDCWD : slot.at, slot.name,
                 folders ? AT_REMOVEDIR : 0);
#endif
    }
  }
}

extern "C" void OnSignal(int number) {
  RemoveRegistered();
  (void)std::signal(number, SIG_DFL);
  (void)std::raise(number);
}

}  // namespace

void SignalCleanup::Install() {
  if (gInstalled.exchange(true)) {
    return;
  }
  for (const int number : kSignals) {
    // A signal that was ignored when kymf started stays ignored.
    if (std::signal(number, OnSignal) == SIG_IGN) {
      (void)std::signal(number, SIG_IGN);
    }
  }
#if !defined(_WIN32)
  // A write past the file-size limit (ulimit -f) then fails with EFBIG, as a
  // full disk fails one, and goes the way of every failed write: the
  // library's temporary archive and a half-extracted file are removed, and
  // the message names the file. Killed by SIGXFSZ instead, kymf would leave
  // the temporary archive for a later writer to clear.
  (void)std::signal(SIGXFSZ, SIG_IGN);
#endif
}

void SignalCleanup::Uninstall() {
  if (!gInstalled.exchange(false)) {
    return;
  }
  for (const int number : kSignals) {
    if (std::signal(number, SIG_DFL) == SIG_IGN) {
      (void)std::signal(number, SIG_IGN);
    }
  }
}

int SignalCleanup::Add(int at, const char* name, bool folder) {
  if (std::strlen(name) >= kLongestName) {
    return -1;
  }
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (gSlots[i].state.compare_exchange_strong(expected, kFilling)) {
      gSlots[i].at = at;
      gSlots[i].folder = folder;
      std::strcpy(gSlots[i].name, name);
      gSlots[i].state.store(kUsed);
      return i;
    }
  }
  return -1;
}

void SignalCleanup::Drop(int slot) {
  if (slot >= 0 && slot < kSlots) {
    gSlots[slot].state.store(kFree);
  }
}

}  // namespace kymf
