// Opening archives of many entries: loading the directory (which must grow
// linearly with the entry count) and opening every entry once by name (whose
// time per lookup must stay flat).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include <RXMFiles.h>

namespace {

std::string EntryName(int i) {
  return "assets/textures/entry-" + std::to_string(i) + ".dat";
}

// An archive of `count` one-byte entries, written once per size.
const std::string& ArchiveOf(int count) {
  static std::vector<std::pair<int, std::string>> made;
  for (const auto& [size, path] : made) {
    if (size == count)
      return path;
  }
  const std::string path = "/tmp/rxmfiles-bench-" + std::to_string(count) + ".kymf";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  auto put32 = [&](std::int32_t value) {
    for (int i = 0; i < 4; ++i)
      std::fputc(static_cast<int>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF), file);
  };
  std::fwrite("KYMF", 1, 4, file);
  put32(count);
  const std::int32_t data = 8 + 80 * count;
  for (int i = 0; i < count; ++i) {
    char name[70] = {};
    std::snprintf(name, sizeof name, "%s", EntryName(i).c_str());
    std::fwrite(name, 1, 70, file);
    std::fputc(0, file);
    std::fputc(0, file);
    put32(data + i);
    put32(data + i);
  }
  for (int i = 0; i < count; ++i)
    std::fputc('x', file);
  std::fclose(file);
  made.emplace_back(count, path);
  return made.back().second;
}

void BM_LoadDirectory(benchmark::State& state) {
  const std::string& path = ArchiveOf(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    MultiFile archive(path.c_str());
    benchmark::DoNotOptimize(archive.GetDirectory().GetCount());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Every entry's name, each 7919 entries after the one before it, made in
// that order: the names are asked for in the order they lie in memory, as a
// program has the name it looks up at hand, so that what waits on memory is
// the lookup and not the benchmark's own list.
std::vector<String> NamesOf(int count) {
  std::vector<String> names;
  names.reserve(static_cast<std::size_t>(count));
  std::size_t entry = 0;
  for (int i = 0; i < count; ++i) {
    names.emplace_back(EntryName(static_cast<int>(entry)).c_str());
    entry = (entry + 7919) % static_cast<std::size_t>(count);
  }
  return names;
}

// An archive's first lookup scans it and its second builds its index, once
// (bench/rxmfiles_bench_load times that); the benchmarks below time the
// lookups that follow, of every entry in turn.
void LookUpEveryEntry(benchmark::State& state, bool open) {
  const int count = static_cast<int>(state.range(0));
  MultiFile archive(ArchiveOf(count).c_str());
  const std::vector<String> names = NamesOf(count);
  for (int i = 0; i < 8; ++i)
    benchmark::DoNotOptimize(archive.OpenFile(names[static_cast<std::size_t>(i)], "rb"));
  std::size_t next = 0;
  for (auto _ : state) {
    if (open)
      benchmark::DoNotOptimize(archive.OpenFile(names[next], "rb"));
    else
      benchmark::DoNotOptimize(archive.CheckEntry(names[next]).IsOk());
    next = next + 1 == names.size() ? 0 : next + 1;
  }
  state.SetItemsProcessed(state.iterations());
}

// The name found and the entry opened: the lookup, and the seek of the
// archive's file to the entry's first byte. The C library answers that seek
// from its buffer while the entries' bytes lie within one buffer (all 10^3
// entries' do) and with a read of the file otherwise.
void BM_OpenEveryEntryByName(benchmark::State& state) {
  LookUpEveryEntry(state, true);
}

// The name found and its record checked against the archive's size: the
// lookup alone, with no call to the system.
void BM_FindEveryEntryByName(benchmark::State& state) {
  LookUpEveryEntry(state, false);
}

BENCHMARK(BM_LoadDirectory)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenEveryEntryByName)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_FindEveryEntryByName)->Arg(1000)->Arg(100000)->Arg(1000000);

}  // namespace

BENCHMARK_MAIN();
