// Side-by-side measurements on the files that bench/compare generates (in the
// folder named by RXMFILES_BENCH_DATA): RXMFiles against plain fread/fwrite
// and against PhysicsFS reading the same contents from a stored ZIP.
#include <benchmark/benchmark.h>
#include <physfs.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <RXMFiles.h>

namespace {

std::string Data(const std::string& name) {
  const char* folder = std::getenv("RXMFILES_BENCH_DATA");
  return std::string(folder != nullptr ? folder : "/tmp/rxmfiles-compare") + "/" + name;
}

// Peak resident memory of this process so far; bench/compare runs each family
// in a process of its own, so this is the family's peak.
void RecordPeak(benchmark::State& state) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

const char* ReadEntry(int64_t size) {
  switch (size) {
    case 4 << 10:
      return "4k.bin";
    case 1 << 20:
      return "1m.bin";
    default:
      return "64m.bin";
  }
}

// --- Read: one whole entry ---------------------------------------------------
//
// Each library reads the entry from its start: RXMFiles with Seek(0, 0) and
// ReadData on the open entry, stdio with fseek and fread of the same bytes,
// PhysicsFS with an open and a read (its seek-and-read is no cheaper).

void BM_Read_RXMFiles(benchmark::State& state) {
  MultiFile archive(Data("read.kymf").c_str());
  std::vector<char> buffer(static_cast<std::size_t>(state.range(0)));
  archive.OpenFile(ReadEntry(state.range(0)), "rb");
  for (auto _ : state) {
    archive.Seek(0, 0);
    if (archive.ReadData(buffer.data(), static_cast<unsigned int>(buffer.size()), 1) != 1) {
      state.SkipWithError("short read");
    }
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  RecordPeak(state);
}

// Where the entry's bytes lie in the archive's file.
long EntryStart(const char* name) {
  MultiFile archive(Data("read.kymf").c_str());
  const PointerArray<MultiFileElement>& directory = archive.GetDirectory();
  for (int i = 0; i < directory.GetCount(); ++i) {
    if (std::string(directory.GetAt(i)->name) == name)
      return directory.GetAt(i)->dataStart;
  }
  return -1;
}

void BM_Read_fread(benchmark::State& state) {
  const long start = EntryStart(ReadEntry(state.range(0)));
  std::FILE* file = std::fopen(Data("read.kymf").c_str(), "rb");
  std::vector<char> buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::fseek(file, start, SEEK_SET);
    if (std::fread(buffer.data(), buffer.size(), 1, file) != 1)
      state.SkipWithError("short read");
  }
  std::fclose(file);
  state.SetBytesProcessed(state.iterations() * state.range(0));
  RecordPeak(state);
}

// Mounts `zip` as PhysicsFS's only archive, once: the benchmark library calls
// each benchmark several times, and mounting 10^6 entries takes seconds.
void MountZip(const std::string& zip) {
  static std::string mounted;
  if (mounted == zip)
    return;
  if (!mounted.empty())
    PHYSFS_unmount(mounted.c_str());
  if (PHYSFS_isInit() == 0)
    PHYSFS_init(nullptr);
  PHYSFS_mount(zip.c_str(), nullptr, 0);
  mounted = zip;
}

void BM_Read_PhysicsFS(benchmark::State& state) {
  MountZip(Data("read.zip"));
  std::vector<char> buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    PHYSFS_File* file = PHYSFS_openRead(ReadEntry(state.range(0)));
    if (file == nullptr || PHYSFS_readBytes(file, buffer.data(), buffer.size()) !=
                               static_cast<PHYSFS_sint64>(buffer.size())) {
      state.SkipWithError("PhysicsFS could not read");
    }
    PHYSFS_close(file);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  RecordPeak(state);
}

// --- Lookup: open entries by name --------------------------------------------

// The names of a lookup archive of `count` entries, spread over 1,000 folders
// as assets usually are (PhysicsFS keeps a folder's children in a list).

std::vector<std::string> Names(int64_t count) {
  std::vector<std::string> names;
  for (int64_t i = 0; i < count; ++i) {
    names.push_back("dir" + std::to_string(i % 1000) + "/entry-" + std::to_string(i) + ".dat");
  }
  return names;
}

void BM_Lookup_RXMFiles(benchmark::State& state) {
  MultiFile archive(Data("lookup-" + std::to_string(state.range(0)) + ".kymf").c_str());
  const std::vector<std::string> names = Names(state.range(0));
  std::size_t next = 0;
  for (auto _ : state) {
    if (!archive.OpenFile(names[next].c_str(), "rb"))
      state.SkipWithError("not found");
    next = (next + 7919) % names.size();
  }
  state.SetItemsProcessed(state.iterations());
  RecordPeak(state);
}

void BM_Lookup_PhysicsFS(benchmark::State& state) {
  MountZip(Data("lookup-" + std::to_string(state.range(0)) + ".zip"));
  const std::vector<std::string> names = Names(state.range(0));
  std::size_t next = 0;
  for (auto _ : state) {
    PHYSFS_File* file = PHYSFS_openRead(names[next].c_str());
    if (file == nullptr)
      state.SkipWithError("not found");
    PHYSFS_close(file);
    next = (next + 7919) % names.size();
  }
  state.SetItemsProcessed(state.iterations());
  RecordPeak(state);
}

// --- Insert: add one file to a 512 MiB archive -------------------------------

void BM_Insert_RXMFiles(benchmark::State& state) {
  MultiFile archive(Data("insert.kymf").c_str());
  int next = 0;
  for (auto _ : state) {
    const std::string name = "added-" + std::to_string(getpid()) + "-" + std::to_string(next++);
    if (!archive.InsertFile(Pointer<KYFile>(), Data("4k.bin").c_str(), name.c_str())) {
      state.SkipWithError("insert failed");
    }
  }
  RecordPeak(state);
}

// As kymf add does: the existing archive kept, its entries copied from the
// old file inside the kernel, the new file synced and put in place.
void BM_Insert_MultiFileWriter(benchmark::State& state) {
  int next = 0;
  for (auto _ : state) {
    MultiFileWriter writer(Data("insert.kymf").c_str(), true);
    const std::string name = "written-" + std::to_string(getpid()) + "-" + std::to_string(next++);
    writer.AddFile(name.c_str(), Data("4k.bin").c_str());
    if (!writer.Commit()) {
      state.SkipWithError(writer.GetError());
    }
  }
  RecordPeak(state);
}

void BM_Insert_CopyAndSync(benchmark::State& state) {
  std::vector<char> buffer(1 << 20);
  for (auto _ : state) {
    std::FILE* in = std::fopen(Data("insert.kymf").c_str(), "rb");
    std::FILE* out = std::fopen(Data("insert.copy").c_str(), "wb");
    std::size_t read = 0;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
      std::fwrite(buffer.data(), 1, read, out);
    std::fflush(out);
    fsync(fileno(out));
    std::fclose(out);
    std::fclose(in);
  }
  std::remove(Data("insert.copy").c_str());
  RecordPeak(state);
}

BENCHMARK(BM_Read_RXMFiles)->Arg(4 << 10)->Arg(1 << 20)->Arg(64 << 20);
BENCHMARK(BM_Read_fread)->Arg(4 << 10)->Arg(1 << 20)->Arg(64 << 20);
BENCHMARK(BM_Read_PhysicsFS)->Arg(4 << 10)->Arg(1 << 20)->Arg(64 << 20);
BENCHMARK(BM_Lookup_RXMFiles)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_Lookup_PhysicsFS)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_Insert_RXMFiles)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Insert_MultiFileWriter)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Insert_CopyAndSync)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
