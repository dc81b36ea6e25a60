// The search path against PhysicsFS on the same data, built on first use in
// the folder named by RXMFILES_BENCH_DATA (default /tmp/rxmfiles-searchpath):
//  - reading 8,192 random entries of 4 KiB with 1 and 2 threads;
//  - a lookup through 4 mounted archives of 100,000 entries against one;
//  - the heap taken by each open stream;
//  - a walk of every folder of an archive (list, recurse) at 10^4 and 10^5
//    entries, against PhysicsFS on a ZIP of the same names (which holds at
//    most 65,535 entries: 10^4 and 6x10^4 there).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <physfs.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <RXMFiles.h>

namespace {

constexpr int kReadEntries = 8192;
constexpr int kReadSize = 4096;
constexpr int kLookupArchives = 4;
constexpr int kLookupEntries = 100000;

std::string Data(const std::string& name) {
  const char* folder = std::getenv("RXMFILES_BENCH_DATA");
  return std::string(folder != nullptr ? folder : "/tmp/rxmfiles-searchpath") + "/" + name;
}

bool Exists(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0;
}

std::string ReadName(int i) {
  return "data/d" + std::to_string(i % 64) + "/f" + std::to_string(i) + ".bin";
}

std::string LookupName(int archive, int i) {
  return "a" + std::to_string(archive) + "/entry-" + std::to_string(i) + ".dat";
}

std::vector<std::uint8_t> Bytes(int i) {
  std::vector<std::uint8_t> bytes(kReadSize);
  for (int b = 0; b < kReadSize; ++b) {
    bytes[b] = static_cast<std::uint8_t>(i * 31 + b);
  }
  return bytes;
}

std::uint32_t Crc32(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) {
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
  }
  return ~crc;
}

void Put(std::string& out, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) {
    out += static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

// Entries `names` holding `bytes(i)` each as a stored (uncompressed) ZIP, as
// PhysicsFS reads it (at most 65,535 of them: no ZIP64).
template <class BytesOf>
void WriteZip(const std::string& path, const std::vector<std::string>& names, BytesOf bytesOf) {
  std::string file, central;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    const std::vector<std::uint8_t> bytes = bytesOf(static_cast<int>(i));
    const std::uint32_t crc = Crc32(bytes);
    const auto size = static_cast<std::uint32_t>(bytes.size());
    const auto offset = static_cast<std::uint32_t>(file.size());
    Put(file, 0x04034b50, 4);
    Put(file, 10, 2), Put(file, 0, 2), Put(file, 0, 2), Put(file, 0, 4);
    Put(file, crc, 4), Put(file, size, 4), Put(file, size, 4);
    Put(file, static_cast<std::uint32_t>(name.size()), 2), Put(file, 0, 2);
    file += name;
    file.append(bytes.begin(), bytes.end());
    Put(central, 0x02014b50, 4);
    Put(central, 20, 2), Put(central, 10, 2), Put(central, 0, 2), Put(central, 0, 2);
    Put(central, 0, 4), Put(central, crc, 4), Put(central, size, 4);
    Put(central, size, 4), Put(central, static_cast<std::uint32_t>(name.size()), 2);
    Put(central, 0, 2), Put(central, 0, 2), Put(central, 0, 2), Put(central, 0, 2);
    Put(central, 0, 4), Put(central, offset, 4);
    central += name;
  }
  const auto centralAt = static_cast<std::uint32_t>(file.size());
  const auto count = static_cast<std::uint32_t>(names.size());
  file += central;
  Put(file, 0x06054b50, 4);
  Put(file, 0, 2), Put(file, 0, 2), Put(file, count, 2), Put(file, count, 2);
  Put(file, static_cast<std::uint32_t>(central.size()), 4), Put(file, centralAt, 4);
  Put(file, 0, 2);
  std::FILE* out = std::fopen(path.c_str(), "wb");
  std::fwrite(file.data(), 1, file.size(), out);
  std::fclose(out);
}

// The walk's entries: 100 folders of 10 folders each, files spread among them.
std::vector<std::string> WalkNames(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    names.push_back("d" + std::to_string(i % 100) + "/e" + std::to_string((i / 100) % 10) + "/f" +
                    std::to_string(i) + ".dat");
  }
  return names;
}

// walk-N.kymf and walk-N.zip, made on first use.
std::string WalkData(int count, const char* extension) {
  const std::string path = Data("walk-" + std::to_string(count) + extension);
  if (!Exists(path)) {
    const std::vector<std::string> names = WalkNames(count);
    if (std::string(extension) == ".zip") {
      WriteZip(path, names, [](int) { return std::vector<std::uint8_t>{'x'}; });
    } else {
      MultiFileWriter writer(path.c_str());
      for (const std::string& name : names) {
        writer.AddBytes(name.c_str(), "x", 1);
      }
      writer.Commit();
    }
  }
  return path;
}

void MakeData() {
  static bool made = false;
  if (made) {
    return;
  }
  made = true;
  ::mkdir(Data("").c_str(), 0755);
  if (!Exists(Data("read.kymf"))) {
    MultiFileWriter writer(Data("read.kymf").c_str());
    for (int i = 0; i < kReadEntries; ++i) {
      writer.AddBytes(ReadName(i).c_str(), Bytes(i).data(), kReadSize);
    }
    writer.Commit();
    std::vector<std::string> names;
    for (int i = 0; i < kReadEntries; ++i) {
      names.push_back(ReadName(i));
    }
    WriteZip(Data("read.zip"), names, Bytes);
  }
  for (int a = 0; a < kLookupArchives; ++a) {
    const std::string path = Data("lookup-" + std::to_string(a) + ".kymf");
    if (!Exists(path)) {
      MultiFileWriter writer(path.c_str());
      for (int i = 0; i < kLookupEntries; ++i) {
        writer.AddBytes(LookupName(a, i).c_str(), "x", 1);
      }
      writer.Commit();
    }
  }
}

SearchPath& ReadPath() {
  static SearchPath* path = [] {
    MakeData();
    auto* made = new SearchPath();
    made->Mount(Data("read.kymf").c_str(), "", true);
    return made;
  }();
  return *path;
}

void BM_Read_SearchPath(benchmark::State& state) {
  SearchPath& path = ReadPath();
  std::mt19937 random(static_cast<unsigned>(state.thread_index()) + 1);
  std::vector<char> buffer(kReadSize);
  for (auto _ : state) {
    Pointer<KYFile> file = path.Open(ReadName(static_cast<int>(random() % kReadEntries)).c_str());
    if (file.IsNull() || file->ReadData(buffer.data(), kReadSize, 1) != 1) {
      state.SkipWithError("read failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * kReadSize);
}

void InitPhysFS() {
  static bool ready = [] {
    MakeData();
    PHYSFS_init(nullptr);
    return PHYSFS_mount(Data("read.zip").c_str(), nullptr, 1) != 0;
  }();
  (void)ready;
}

void BM_Read_PhysicsFS(benchmark::State& state) {
  if (state.thread_index() == 0) {
    InitPhysFS();
  }
  std::mt19937 random(static_cast<unsigned>(state.thread_index()) + 1);
  std::vector<char> buffer(kReadSize);
  for (auto _ : state) {
    PHYSFS_File* file =
        PHYSFS_openRead(ReadName(static_cast<int>(random() % kReadEntries)).c_str());
    if (file == nullptr || PHYSFS_readBytes(file, buffer.data(), kReadSize) != kReadSize) {
      state.SkipWithError("read failed");
      break;
    }
    PHYSFS_close(file);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * kReadSize);
}

// Names found in the archive searched last, so that the others miss first.
void BM_Lookup_SearchPath(benchmark::State& state) {
  MakeData();
  const int archives = static_cast<int>(state.range(0));
  SearchPath path;
  for (int a = 0; a < archives; ++a) {
    path.Mount(Data("lookup-" + std::to_string(a) + ".kymf").c_str(), "", true);
  }
  std::vector<String> names;
  for (int i = 0; i < 4096; ++i) {
    names.emplace_back(LookupName(archives - 1, (i * 7919) % kLookupEntries).c_str());
  }
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(path.Exists(names[next]));
    next = (next + 1) % names.size();
  }
}

// The heap that each open stream holds, over 10,000 open at once.
void BM_MemoryPerStream_SearchPath(benchmark::State& state) {
  SearchPath& path = ReadPath();
  for (auto _ : state) {
    const std::size_t before = mallinfo2().uordblks;
    std::vector<Pointer<KYFile>> open;
    for (int i = 0; i < 10000; ++i) {
      open.push_back(path.Open(ReadName(i % kReadEntries).c_str()));
    }
    state.counters["bytes_per_stream"] =
        static_cast<double>(mallinfo2().uordblks - before) / 10000.0 - sizeof(Pointer<KYFile>);
  }
}

void BM_MemoryPerStream_PhysicsFS(benchmark::State& state) {
  InitPhysFS();
  for (auto _ : state) {
    std::vector<PHYSFS_File*> open;
    open.reserve(10000);
    const std::size_t reserved = mallinfo2().uordblks;
    for (int i = 0; i < 10000; ++i) {
      open.push_back(PHYSFS_openRead(ReadName(i % kReadEntries).c_str()));
    }
    state.counters["bytes_per_stream"] =
        static_cast<double>(mallinfo2().uordblks - reserved) / 10000.0;
    for (PHYSFS_File* file : open) {
      PHYSFS_close(file);
    }
  }
}

// Every folder listed, every name below it looked at: a file lists nothing,
// a folder lists its children. Counts the files found.
std::size_t Walk(const SearchPath& path, const std::string& folder) {
  std::size_t files = 0;
  for (const std::string& name : path.List(folder.c_str())) {
    const std::string full = folder.empty() ? name : folder + "/" + name;
    const std::size_t below = Walk(path, full);
    files += below == 0 ? 1 : below;
  }
  return files;
}

void BM_Walk_SearchPath(benchmark::State& state) {
  MakeData();
  const int count = static_cast<int>(state.range(0));
  const std::string archive = WalkData(count, ".kymf");
  for (auto _ : state) {
    SearchPath path;  // a fresh mount each time: its index is part of the cost
    path.Mount(archive.c_str(), "", true);
    if (Walk(path, "") != static_cast<std::size_t>(count)) {
      state.SkipWithError("the walk missed files");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * count);
}

std::size_t WalkPhysFS(const std::string& folder) {
  std::size_t files = 0;
  char** names = PHYSFS_enumerateFiles(folder.c_str());
  for (char** name = names; *name != nullptr; ++name) {
    const std::string full = folder + "/" + *name;
    PHYSFS_Stat stat;
    if (PHYSFS_stat(full.c_str(), &stat) != 0 && stat.filetype == PHYSFS_FILETYPE_DIRECTORY) {
      files += WalkPhysFS(full);
    } else {
      ++files;
    }
  }
  PHYSFS_freeList(names);
  return files;
}

void BM_Walk_PhysicsFS(benchmark::State& state) {
  InitPhysFS();
  const int count = static_cast<int>(state.range(0));
  const std::string archive = WalkData(count, ".zip");
  const std::string point = "walk" + std::to_string(count);
  for (auto _ : state) {
    PHYSFS_mount(archive.c_str(), point.c_str(), 1);  // a fresh mount, as above
    if (WalkPhysFS(point) != static_cast<std::size_t>(count)) {
      state.SkipWithError("the walk missed files");
      break;
    }
    PHYSFS_unmount(archive.c_str());
  }
  state.SetItemsProcessed(state.iterations() * count);
}

}  // namespace

BENCHMARK(BM_Walk_SearchPath)->Arg(10000)->Arg(60000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Walk_PhysicsFS)->Arg(10000)->Arg(60000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read_SearchPath)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Read_PhysicsFS)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Lookup_SearchPath)->Arg(1)->Arg(kLookupArchives);
BENCHMARK(BM_MemoryPerStream_SearchPath)->Iterations(1);
BENCHMARK(BM_MemoryPerStream_PhysicsFS)->Iterations(1);

BENCHMARK_MAIN();
