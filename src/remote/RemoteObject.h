// An object on an HTTP(S) server, read by offset through a block cache.
#ifndef RXMFILES_REMOTE_REMOTEOBJECT_H
#define RXMFILES_REMOTE_REMOTEOBJECT_H

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "files/ByteSource.h"
#include "files/Status.h"
#include "remote/RangeClient.h"
#include "remote/RemoteOptions.h"

namespace RXM {

// Opened with one request, which fixes the object's size and validator and
// fills the first block. Reads then go:
//  - small ones (under kDirectRead) through a cache of blocks of
//    options.blockSize, least recently used dropped beyond
//    options.cacheBytes. A read's missing blocks are fetched together, in one
//    request per run of adjacent blocks; a miss right after a cached block
//    counts as sequential reading and fetches ahead, twice as far as the run
//    before it, up to options.readAheadBytes. A block another thread is
//    already fetching is waited for, not fetched twice.
//  - large ones straight into the caller's buffer, in one request, unless
//    every block they need is cached.
// No lock is held while a request is on the network. Once a request finds the
// object replaced, every later read fails with kRemoteChanged: bytes of two
// versions are never mixed.
class RemoteObject final : public ByteSource {
 public:
  // Reads at least this large skip the cache.
  static constexpr std::size_t kDirectRead = std::size_t{256} * 1024;

  // Opens `url`; null with the reason in `why`.
  static std::shared_ptr<const RemoteObject> Open(const std::string& url,
                                                  const RemoteOptions& options, Status& why);

  RemoteObject(std::unique_ptr<RangeClient> client, RemoteOptions options,
               RangeClient::Opening opening);

  std::uint64_t GetSize() const { return size; }
  // The URL with credentials hidden, for messages.
  const std::string& GetShown() const { return client->GetShown(); }
  std::uint64_t GetRequests() const { return client->GetRequests(); }

  // Reads up to `length` bytes at `offset` into `buffer`; `got` is the number
  // read. Ok when all that the object holds there was read; otherwise the
  // reason, with `got` the bytes read before the failure.
  Status Read(void* buffer, std::size_t length, std::uint64_t offset, std::size_t& got) const;

  std::size_t ReadAt(void* buffer, std::size_t length, std::uint64_t offset) const override;
  // The most recent failure of a read, by any reader; Ok when none failed.
  Status LastFailure() const;
  // Fetches the missing blocks of the range (up to options.readAheadBytes of
  // it) in one request, so that an entry read in small pieces costs one.
  void Prefetch(std::uint64_t offset, std::uint64_t length) const override;

 private:
  struct Block;
  using BlockPointer = std::shared_ptr<Block>;
  struct Run {
    std::uint64_t first;  // block number
    std::uint64_t count;
    std::vector<BlockPointer> blocks;
  };

  Status ReadCached(std::uint8_t* out, std::size_t length, std::uint64_t offset,
                    std::size_t& got) const;
  // With the lock held: the blocks first..last, claiming the missing ones (and
  // read-ahead after them) as runs for this thread to fetch.
  std::vector<BlockPointer> Claim(std::uint64_t first, std::uint64_t last, std::vector<Run>& runs,
                                  bool ahead) const;
  // Fetches `run` with no lock held, then publishes its blocks.
  void Fetch(Run& run) const;
  // With the lock held: drops the least recently used blocks beyond the limit.
  void Evict() const;
  std::size_t BlockBytes(std::uint64_t block) const;
  // The failure that ends every read once seen, if any.
  Status Poisoned() const;

  std::unique_ptr<RangeClient> client;
  RemoteOptions options;
  std::uint64_t size = 0;
  std::uint64_t blockCount = 0;
  // The whole object, when the server sent it whole.
  std::vector<std::uint8_t> whole;
  bool isWhole = false;

  mutable std::mutex lock;
  mutable std::condition_variable arrived;
  mutable std::unordered_map<std::uint64_t, BlockPointer> blocks;
  mutable std::uint64_t clock = 0;
  mutable Status changed;
  mutable Status lastFailure;
};

}  // namespace RXM

#endif  // RXMFILES_REMOTE_REMOTEOBJECT_H
