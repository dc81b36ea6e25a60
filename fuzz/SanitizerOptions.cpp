// AddressSanitizer's defaults for every fuzz target (the environment's
// ASAN_OPTIONS still win, key by key).
//
// quarantine_size_mb=1, thread_local_quarantine_size_kb=256: a freed block
// waits in the quarantine, poisoned, until about 1 MiB freed after it has
// pushed it out, and only then is its memory handed out again. Over their
// corpus, a run of the archive targets freed at most 35 KiB (the reader) and
// 61 KiB (the writer) in a few hundred blocks: a use after free within a run,
// or in the next dozen or so, is still caught (QuarantineCheck.cpp holds the
// defaults to that, with 512 KiB freed in between). The default, 256 MiB,
// makes nearly every allocation come from memory not touched for a long time:
// fresh pages to fault in and cold cache lines. Each step down kept the
// blocks handed out warmer: on a fixed set of inputs, replayed, 4 MiB took
// 18% less time than the default for the reader and 23% less for the writer,
// and 1 MiB with a thread's own share of 256 KiB (rather than the default
// share of 1 MiB, as much as the whole quarantine) 10% and 17% less than 4 MiB.
// 1 MiB is the least the option can say short of none.
extern "C" const char* __asan_default_options();  // NOLINT(bugprone-reserved-identifier)

extern "C" const char* __asan_default_options() {  // NOLINT(bugprone-reserved-identifier)
  return "quarantine_size_mb=1:thread_local_quarantine_size_kb=256";
}
