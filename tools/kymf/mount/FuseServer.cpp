// The mount through libfuse3's low-level API: inode numbers are the tree's
// node indexes plus one, nothing ever changes, so the kernel may cache every
// name, attribute and page for as long as it likes; reads go to the sources'
// streams, from the threads of the multi-threaded loop. Where the kernel can
// open files and folders by itself, it is left to: a read then makes its own
// stream, which for an archive costs far less than the two round trips an
// open and a release take.
#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

#include "files/EntryStream.h"
#include "mount/FuseServer.h"
#include "mount/ListingPolicy.h"
#include "support/SignalCleanup.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace kymf {
namespace mount {
namespace {

// The tree never changes: the kernel keeps what it was told for a day.
constexpr double kForever = 86400.0;
constexpr int kLoggedFailures = 20;  // read failures logged per mount; the rest only counted

// An open file: its own entry stream, read by position, so that the reads
// the kernel sends from several threads need no lock; for a file whose bytes
// lie in a file on disk (an archive's entry, a folder's file), that file's
// descriptor and where the bytes begin in it, for Splice.
struct OpenedFile {
  Pointer<KYFile> stream;
  int descriptor = -1;
  std::uint64_t first = 0;
};

// The files open now. A lazy unmount can end the session while a program
// still holds a file, and no release comes for it then; the server closes
// what is left when its loop ends.
struct OpenFiles {
  std::mutex lock;
  std::set<OpenedFile*> held;

  void Add(OpenedFile* opened) {
    const std::lock_guard<std::mutex> hold(lock);
    held.insert(opened);
  }
  void Close(OpenedFile* opened) {
    {
      const std::lock_guard<std::mutex> hold(lock);
      held.erase(opened);
    }
    delete opened;
  }
  ~OpenFiles() {
    for (OpenedFile* opened : held) {
      delete opened;
    }
  }
};

struct Server {
  const MountedFiles* files = nullptr;
  uid_t uid = 0;
  gid_t gid = 0;
  bool daemon = false;  // log to syslog, standard error being gone
  // Opens answered "not implemented", so that the kernel stops sending them
  // (decided once, at Init, by what the kernel and the sources allow).
  bool kernelOpensFiles = false;
  bool kernelOpensFolders = false;
  std::atomic<int> failures{0};
  ListingPolicy listing;
  OpenFiles open;
};

Server& ServerOf(fuse_req_t request) {
  return *static_cast<Server*>(fuse_req_userdata(request));
}

const MountTree& TreeOf(fuse_req_t request) {
  return ServerOf(request).files->tree;
}

// The node of `inode`, or MountTree::kNone.
std::uint32_t NodeOf(fuse_req_t request, fuse_ino_t inode) {
  return inode >= 1 && inode <= TreeOf(request).GetCount() ? static_cast<std::uint32_t>(inode - 1)
                                                           : MountTree::kNone;
}

void Log(Server& server, const std::string& text) {
  if (server.daemon) {
    syslog(LOG_WARNING, "%s", text.c_str());
  } else {
    (void)std::fprintf(stderr, "kymf: %s\n", text.c_str());
  }
}

// `reason`: the library's text, which names the source and the file; when
// empty, the file's path in the mount is logged with "cannot be opened".
void LogFailure(fuse_req_t request, std::uint32_t index, const std::string& reason) {
  Server& server = ServerOf(request);
  if (server.failures.fetch_add(1) < kLoggedFailures) {
    Log(server, reason.empty() ? server.files->tree.PathOf(index) + ": cannot be opened" : reason);
  }
}

struct stat AttributesOf(const Server& server, std::uint32_t index) {
  const MountNode& node = server.files->tree.Get(index);
  struct stat attributes {};
  attributes.st_ino = index + 1;
  attributes.st_mode = node.folder ? (S_IFDIR | 0555) : (S_IFREG | 0444);
  attributes.st_nlink = node.folder ? 2 + node.folders : 1;
  attributes.st_uid = server.uid;
  attributes.st_gid = server.gid;
  attributes.st_size = static_cast<off_t>(node.size);
  attributes.st_blksize = 4096;
  attributes.st_blocks = static_cast<blkcnt_t>((node.size + 511) / 512);
  attributes.st_atime = attributes.st_mtime = attributes.st_ctime = node.time;
  return attributes;
}

fuse_entry_param EntryOf(const Server& server, std::uint32_t index) {
  fuse_entry_param entry{};
  entry.ino = index + 1;
  entry.attr = AttributesOf(server, index);
  entry.attr_timeout = kForever;
  entry.entry_timeout = kForever;
  return entry;
}

void Lookup(fuse_req_t request, fuse_ino_t parent, const char* name) {
  const std::uint32_t folder = NodeOf(request, parent);
  const std::uint32_t found =
      folder == MountTree::kNone ? MountTree::kNone : TreeOf(request).Find(folder, name);
  if (found == MountTree::kNone) {
    fuse_entry_param missing{};  // inode 0: the kernel remembers that nothing is there
    missing.entry_timeout = kForever;
    fuse_reply_entry(request, &missing);
    return;
  }
  Server& server = ServerOf(request);
  if (!server.files->tree.Get(found).folder) {
    server.listing.FileLookedUp(folder);
  }
  const fuse_entry_param entry = EntryOf(server, found);
  fuse_reply_entry(request, &entry);
}

void GetAttributes(fuse_req_t request, fuse_ino_t inode, fuse_file_info*) {
  const std::uint32_t index = NodeOf(request, inode);
  if (index == MountTree::kNone) {
    fuse_reply_err(request, ENOENT);
    return;
  }
  const struct stat attributes = AttributesOf(ServerOf(request), index);
  fuse_reply_attr(request, &attributes, kForever);
}

// A stream over the file `index` from its layer; false, with the failure
// logged, when its layer cannot give one.
bool OpenNode(fuse_req_t request, std::uint32_t index, OpenedFile& opened) {
  const MountNode& node = TreeOf(request).Get(index);
  RXM::Status why;
  opened.stream = ServerOf(request).files->layers[node.layer]->Open(node.source, why);
  if (opened.stream.IsNull()) {
    // The library's reason names the archive and the entry.
    LogFailure(request, index, why.IsOk() ? std::string() : why.GetText());
    return false;
  }
  opened.descriptor = static_cast<int>(RXM::EntryFileHandle(*opened.stream, &opened.first));
  return true;
}

// ENOSYS, where the kernel takes it as success and opens every file from
// then on by itself (read-only is the mount's own flag, so writers never get
// this far, and folders have their own open).
void Open(fuse_req_t request, fuse_ino_t inode, fuse_file_info* info) {
  if (ServerOf(request).kernelOpensFiles) {
    fuse_reply_err(request, ENOSYS);
    return;
  }
  const std::uint32_t index = NodeOf(request, inode);
  if (index == MountTree::kNone) {
    fuse_reply_err(request, ENOENT);
    return;
  }
  if (TreeOf(request).Get(index).folder) {
    fuse_reply_err(request, EISDIR);
    return;
  }
  if ((info->flags & O_ACCMODE) != O_RDONLY) {
    fuse_reply_err(request, EROFS);
    return;
  }
  auto* opened = new OpenedFile;
  if (!OpenNode(request, index, *opened)) {
    delete opened;
    fuse_reply_err(request, EIO);
    return;
  }
  ServerOf(request).open.Add(opened);
  info->fh = reinterpret_cast<std::uintptr_t>(opened);
  info->keep_cache = 1;
  info->noflush = 1;
  if (fuse_reply_open(request, info) != 0) {
    ServerOf(request).open.Close(opened);  // the opener went away: no release follows
  }
}

// Replies of at least this many bytes are spliced from the file on disk. A
// splice costs two calls and a pipe where a copy costs one read. Measured on
// a 2-core machine, 4 rounds each: 1 GiB read in 1 MiB reads (which the
// kernel asks for in 128 KiB requests) went at 3.1-3.5 GiB/s spliced against
// 2.5-3.0 GiB/s copied; 10^4 files of 4 KiB read whole took 1.22-1.38 s
// either way, and splicing every reply as well gained nothing there. So a
// reply of a few pages is copied, the one call being the simpler path.
constexpr std::size_t kSpliceFrom = 16384;

// The `wanted` bytes at `offset` of a file on disk, handed to the kernel by
// their descriptor: they go from the page cache through a pipe into the reply,
// never through this process's memory (libfuse copies them instead where the
// kernel cannot splice). Only when the file still holds them all: a splice
// that came up short would be sent as a short reply, which passes for the
// file's end, so a file cut short is read the ordinary way, which says EIO.
// False when the bytes are not to be had this way.
bool Splice(fuse_req_t request, const OpenedFile& opened, std::size_t wanted, off_t offset) {
  struct stat file {};
  const std::uint64_t at = opened.first + static_cast<std::uint64_t>(offset);
  if (opened.descriptor < 0 || wanted < kSpliceFrom || ::fstat(opened.descriptor, &file) != 0 ||
      static_cast<std::uint64_t>(file.st_size) < at + wanted) {
    return false;
  }
  fuse_bufvec data{};  // FUSE_BUFVEC_INIT, whose compound literal is no C++
  data.count = 1;
  data.buf[0].size = wanted;
  data.buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
  data.buf[0].fd = opened.descriptor;
  data.buf[0].pos = static_cast<off_t>(at);
  // Not FUSE_BUF_SPLICE_MOVE: moving would take the pages out of the
  // archive's own page cache.
  fuse_reply_data(request, &data, static_cast<fuse_buf_copy_flags>(0));
  return true;
}

// Every byte asked for that the file holds, or EIO: a short read (an archive
// cut short, a remote archive that changed) never passes for the file's end.
void Read(fuse_req_t request, fuse_ino_t inode, std::size_t size, off_t offset,
          fuse_file_info* info) {
  const std::uint32_t index = NodeOf(request, inode);
  const MountNode& node = TreeOf(request).Get(index);
  if (offset < 0 || static_cast<std::uint64_t>(offset) >= node.size) {
    fuse_reply_buf(request, nullptr, 0);
    return;
  }
  const auto wanted = static_cast<unsigned int>(
      std::min<std::uint64_t>(size, node.size - static_cast<std::uint64_t>(offset)));
  // FUSE keeps the open file as a number: the pointer that Open put there,
  // or 0 when the kernel opened the file, and this read makes its own.
  OpenedFile own;
  auto* opened = info->fh != 0
                     ? reinterpret_cast<OpenedFile*>(info->fh)  // NOLINT(performance-no-int-to-ptr)
                     : &own;
  if (info->fh == 0 && !OpenNode(request, index, own)) {
    fuse_reply_err(request, EIO);
    return;
  }
  if (Splice(request, *opened, wanted, offset)) {
    return;
  }
  thread_local std::vector<char> buffer;
  if (buffer.size() < wanted) {
    buffer.resize(wanted);
  }
  std::uint32_t got = 0;
  const bool read = RXM::ReadEntryAt(*opened->stream, buffer.data(), wanted,
                                     static_cast<std::uint32_t>(offset), &got);
  if (!read || got != wanted) {
    // The remote archive's reason when it has one (the object changed, a
    // deadline, an answer that was not what was asked); the archive's name is
    // in it, the file's path is put before it.
    const RXM::Status why =
        ServerOf(request).files->layers[TreeOf(request).Get(index).layer]->GetReadFailure();
    LogFailure(request, index,
               TreeOf(request).PathOf(index) + ": " + (why.IsOk() ? "read failed" : why.GetText()));
    fuse_reply_err(request, EIO);
    return;
  }
  fuse_reply_buf(request, buffer.data(), got);
}

// Replies may be spliced (Splice) where the kernel takes them so. Folders
// are always left to the kernel to open where it can (a listing comes from
// the tree alone); files only when every source OpensForEachRead.
void Init(void* data, fuse_conn_info* connection) {
  connection->want |= connection->capable & FUSE_CAP_SPLICE_WRITE;
  auto& server = *static_cast<Server*>(data);
  server.kernelOpensFolders = (connection->capable & FUSE_CAP_NO_OPENDIR_SUPPORT) != 0;
  server.kernelOpensFiles =
      (connection->capable & FUSE_CAP_NO_OPEN_SUPPORT) != 0 && server.files->opensForEachRead;
}

void Release(fuse_req_t request, fuse_ino_t, fuse_file_info* info) {
  ServerOf(request).open.Close(
      reinterpret_cast<OpenedFile*>(info->fh));  // NOLINT(performance-no-int-to-ptr)
  fuse_reply_err(request, 0);
}

void OpenFolder(fuse_req_t request, fuse_ino_t inode, fuse_file_info* info) {
  if (ServerOf(request).kernelOpensFolders) {
    fuse_reply_err(request, ENOSYS);  // as Open: the kernel opens folders from now on
    return;
  }
  const std::uint32_t index = NodeOf(request, inode);
  if (index == MountTree::kNone || !TreeOf(request).Get(index).folder) {
    fuse_reply_err(request, index == MountTree::kNone ? ENOENT : ENOTDIR);
    return;
  }
  info->cache_readdir = 1;
  info->keep_cache = 1;
  fuse_reply_open(request, info);
}

// Entries from `offset` on: "." and ".." at 0 and 1, then the children; each
// entry's offset is the next one's. With `plus`, an entry carries its node's
// attributes when it is a folder or `files` is true; otherwise its inode
// number 0 tells the kernel to keep no inode for it.
void ReadFolder(fuse_req_t request, fuse_ino_t inode, std::size_t size, off_t offset, bool plus,
                bool files) {
  const Server& server = ServerOf(request);
  const std::uint32_t index = NodeOf(request, inode);
  if (index == MountTree::kNone) {
    fuse_reply_err(request, ENOENT);
    return;
  }
  const MountNode& folder = server.files->tree.Get(index);
  std::vector<char> buffer(size);
  std::size_t used = 0;
  for (off_t at = std::max<off_t>(offset, 0); at < 2 + static_cast<off_t>(folder.count); ++at) {
    const std::uint32_t target =
        at == 0 ? index
                : (at == 1 ? folder.parent : folder.first + static_cast<std::uint32_t>(at - 2));
    const MountNode& node = server.files->tree.Get(target);
    const char* name = at == 0 ? "." : (at == 1 ? ".." : node.name);
    char* place = buffer.data() + used;
    const std::size_t room = size - used;
    std::size_t needed = 0;
    if (plus) {
      fuse_entry_param entry = EntryOf(server, target);
      if (at < 2 || !(node.folder || files)) {
        entry.ino = 0;
      }
      needed = fuse_add_direntry_plus(request, place, room, name, &entry, at + 1);
    } else {
      const struct stat attributes = AttributesOf(server, target);
      needed = fuse_add_direntry(request, place, room, name, &attributes, at + 1);
    }
    if (needed > room) {
      break;
    }
    used += needed;
  }
  fuse_reply_buf(request, buffer.data(), used);
}

void ReadFolderNames(fuse_req_t request, fuse_ino_t inode, std::size_t size, off_t offset,
                     fuse_file_info*) {
  ReadFolder(request, inode, size, offset, false, false);
}

// The listing's choice (ListingPolicy) is made at its start and kept in the
// open folder's handle: 1 without the files' attributes, 2 with them; a
// folder the kernel opened has no handle, and the policy says it again.
void ReadFolderPlus(fuse_req_t request, fuse_ino_t inode, std::size_t size, off_t offset,
                    fuse_file_info* info) {
  ListingPolicy& listing = ServerOf(request).listing;
  const std::uint32_t folder = NodeOf(request, inode);
  bool files = info->fh == 2;
  if (offset == 0) {
    files = listing.StartListing(folder);
    info->fh = files ? 2 : 1;
  } else if (info->fh == 0) {
    files = listing.ContinueListing(folder);
  }
  ReadFolder(request, inode, size, offset, true, files);
}

void StatFileSystem(fuse_req_t request, fuse_ino_t) {
  const MountedFiles& files = *ServerOf(request).files;
  struct statvfs answer {};
  answer.f_bsize = 4096;
  answer.f_frsize = 4096;
  answer.f_blocks = static_cast<fsblkcnt_t>((files.sourceBytes + 4095) / 4096);
  answer.f_files = files.tree.GetCount();
  answer.f_namemax = 255;
  fuse_reply_statfs(request, &answer);
}

// Nodes live as long as the tree: the kernel's forgetting frees nothing.
void Forget(fuse_req_t request, fuse_ino_t, std::uint64_t) {
  fuse_reply_none(request);
}

void ForgetMany(fuse_req_t request, std::size_t, fuse_forget_data*) {
  fuse_reply_none(request);
}

fuse_lowlevel_ops Operations() {
  fuse_lowlevel_ops operations{};
  operations.lookup = Lookup;
  operations.forget = Forget;
  operations.forget_multi = ForgetMany;
  operations.getattr = GetAttributes;
  operations.open = Open;
  operations.init = Init;
  operations.read = Read;
  operations.release = Release;
  operations.opendir = OpenFolder;
  operations.readdir = ReadFolderNames;
  operations.readdirplus = ReadFolderPlus;
  operations.statfs = StatFileSystem;
  return operations;
}

}  // namespace

std::string WhyMountingUnavailable() {
  if (::access("/dev/fuse", R_OK | W_OK) != 0) {
    return errno == ENOENT ? "there is no /dev/fuse" : "/dev/fuse: " + RXM::SystemReason(errno);
  }
  if (::geteuid() != 0 && ::access("/usr/bin/fusermount3", X_OK) != 0 &&
      ::access("/bin/fusermount3", X_OK) != 0) {
    return "fusermount3 is missing (Debian's fuse3)";
  }
  return std::string();
}

int Serve(const MountedFiles& files, const ServeOptions& options, Reporter& reporter) {
  Server server;
  server.files = &files;
  server.uid = ::getuid();
  server.gid = ::getgid();
  std::string program = "kymf", dashO = "-o", mountOptions = options.fuseOptions;
  char* argv[] = {program.data(), dashO.data(), mountOptions.data(), nullptr};
  fuse_args arguments = FUSE_ARGS_INIT(3, argv);
  const fuse_lowlevel_ops operations = Operations();
  fuse_session* session = fuse_session_new(&arguments, &operations, sizeof operations, &server);
  // Parsing may have copied the arguments into memory of libfuse's; the
  // session keeps nothing of them.
  fuse_opt_free_args(&arguments);
  if (session == nullptr) {
    reporter.Fail(options.mountPoint,
                  "the FUSE session cannot be made (libfuse said why above: "
                  "an -o option it does not know?)");
    return kFailure;
  }
  int code = kFailure;
  // A mount writes no files, so it has nothing for kymf's handler to remove,
  // and the session's handlers must end the loop instead.
  SignalCleanup::Uninstall();
  if (fuse_set_signal_handlers(session) != 0) {
    reporter.Fail(options.mountPoint, "signal handlers cannot be set");
  } else if (fuse_session_mount(session, options.mountPoint.c_str()) != 0) {
    reporter.Fail(options.mountPoint, "cannot be mounted on");
    fuse_remove_signal_handlers(session);
  } else {
    fuse_daemonize(options.foreground ? 1 : 0);  // the first process ends here in the background
    if (!options.foreground) {
      server.daemon = true;
      openlog("kymf", LOG_PID, LOG_DAEMON);
    }
    // As many threads as processors, all kept: a read is mostly a copy out of
    // the page cache, so more threads add no speed, and every request would
    // wake a thread that has slept longer (the kernel hands requests to the
    // threads in turn), on another processor. (Measured in bench/mount.)
    const unsigned threads = std::max(2u, std::thread::hardware_concurrency());
    fuse_loop_config* loop = fuse_loop_cfg_create();
    fuse_loop_cfg_set_clone_fd(loop, 0);
    fuse_loop_cfg_set_idle_threads(loop, threads);
    fuse_loop_cfg_set_max_threads(loop, threads);
    const int served = fuse_session_loop_mt(session, loop);
    fuse_loop_cfg_destroy(loop);
    fuse_session_unmount(session);
    fuse_remove_signal_handlers(session);
    code = served < 0 ? kFailure : kSuccess;
    if (served < 0) {
      Log(server, options.mountPoint + ": " + RXM::SystemReason(-served));
    }
  }
  fuse_session_destroy(session);
  return code;
}

int Unmount(const std::string& point, Reporter& reporter) {
  std::string program = "fusermount3", unmount = "-u", end = "--", folder = point;
  char* argv[] = {program.data(), unmount.data(), end.data(), folder.data(), nullptr};
  pid_t child = 0;
  const int spawned = ::posix_spawnp(&child, "fusermount3", nullptr, nullptr, argv, environ);
  if (spawned != 0) {
    reporter.Fail(point, "cannot be unmounted: fusermount3: " + RXM::SystemReason(spawned));
    return kFailure;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    // fusermount3 has said why (busy, not permitted) on standard error.
    reporter.Fail(point, "cannot be unmounted (fusermount3 -u failed)");
    return kFailure;
  }
  return kSuccess;
}

}  // namespace mount
}  // namespace kymf
