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

void BM_OpenEveryEntryByName(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  MultiFile archive(ArchiveOf(count).c_str());
  std::vector<String> names;
  names.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i)
    names.emplace_back(EntryName(i).c_str());
  // An archive's first lookup scans it and its second builds its index, once
  // (BM_OpenArchiveOf1MEntriesAndIndexIt times that); this times the lookups
  // that follow.
  for (int i = 0; i < 8; ++i)
    benchmark::DoNotOptimize(archive.OpenFile(names[static_cast<std::size_t>(i)], "rb"));
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(archive.OpenFile(names[next], "rb"));
    next = (next + 7919) % names.size();
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_LoadDirectory)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenEveryEntryByName)->Arg(1000)->Arg(100000)->Arg(1000000);

}  // namespace

BENCHMARK_MAIN();
