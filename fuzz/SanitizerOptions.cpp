// AddressSanitizer's defaults for every fuzz target (the environment's
// ASAN_OPTIONS still win, key by key).
//
// quarantine_size_mb=16: a freed block waits in the quarantine, poisoned,
// until 16 MiB freed after it have pushed it out, and only then is its memory
// handed out again. A run allocates a few hundred blocks of well under 16 MiB
// in all, so a use after free within a run, or in the run after, is still
// caught. The default, 256 MiB, makes nearly every allocation come from memory
// not touched for a long time: fresh pages to fault in and cold cache lines,
// which cost the archive writer's target a seventh of its runs.
extern "C" const char* __asan_default_options();  // NOLINT(bugprone-reserved-identifier)

extern "C" const char* __asan_default_options() {  // NOLINT(bugprone-reserved-identifier)
  return "quarantine_size_mb=16";
}
