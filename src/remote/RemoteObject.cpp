#include "remote/RemoteObject.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "remote/Transport.h"

namespace RXM {

struct RemoteObject::Block {
  enum class State { kPending, kReady, kFailed };
  State state = State::kPending;
  std::vector<std::uint8_t> bytes;
  std::uint64_t lastUse = 0;
  // The blocks that the request which brought this one fetched: the next
  // sequential miss fetches twice as many.
  std::uint64_t window = 1;
  Status failure;
};

std::shared_ptr<const RemoteObject> RemoteObject::Open(const std::string& url,
                                                       const RemoteOptions& options, Status& why) {
  auto client = std::make_unique<RangeClient>(http::MakeTransport(options), url, options);
  RangeClient::Opening opening;
  why = client->Open(opening);
  if (!why.IsOk()) {
    return nullptr;
  }
  return std::make_shared<const RemoteObject>(std::move(client), options, std::move(opening));
}

RemoteObject::RemoteObject(std::unique_ptr<RangeClient> rangeClient, RemoteOptions settings,
                           RangeClient::Opening opening)
    : client(std::move(rangeClient)), options(std::move(settings)), size(opening.size) {
  if (options.blockSize == 0) {
    options.blockSize = 1;
  }
  if (opening.whole) {
    whole = std::move(opening.bytes);
    isWhole = true;
    return;
  }
  blockCount = (size + options.blockSize - 1) / options.blockSize;
  if (blockCount > 0 && opening.bytes.size() == BlockBytes(0)) {
    auto first = std::make_shared<Block>();
    first->state = Block::State::kReady;
    first->bytes = std::move(opening.bytes);
    blocks[0] = first;
  }
}

std::size_t RemoteObject::BlockBytes(std::uint64_t block) const {
  const std::uint64_t start = block * options.blockSize;
  return static_cast<std::size_t>(std::min<std::uint64_t>(options.blockSize, size - start));
}

Status RemoteObject::LastFailure() const {
  const std::lock_guard<std::mutex> guard(lock);
  return lastFailure;
}

Status RemoteObject::Poisoned() const {
  const std::lock_guard<std::mutex> guard(lock);
  return changed;
}

std::size_t RemoteObject::ReadAt(void* buffer, std::size_t length, std::uint64_t offset) const {
  std::size_t got = 0;
  Read(buffer, length, offset, got);
  return got;
}

Status RemoteObject::Read(void* buffer, std::size_t length, std::uint64_t offset,
                          std::size_t& got) const {
  got = 0;
  if (offset >= size || length == 0) {
    return Status::Ok();
  }
  length = static_cast<std::size_t>(std::min<std::uint64_t>(length, size - offset));
  auto* out = static_cast<std::uint8_t*>(buffer);
  if (isWhole) {
    std::memcpy(out, whole.data() + offset, length);
    got = length;
    return Status::Ok();
  }
  Status status = Poisoned();
  if (!status.IsOk()) {
    return status;
  }
  if (length < kDirectRead) {
    status = ReadCached(out, length, offset, got);
  } else {
    status = client->Read(offset, length, out);
    got = status.IsOk() ? length : 0;
  }
  if (!status.IsOk()) {
    const std::lock_guard<std::mutex> guard(lock);
    lastFailure = status;
    if (status.GetCode() == ErrorCode::kRemoteChanged) {
      changed = status;
    }
  }
  return status;
}

void RemoteObject::Prefetch(std::uint64_t offset, std::uint64_t length) const {
  if (isWhole || offset >= size || length == 0 || !Poisoned().IsOk()) {
    return;
  }
  length = std::min<std::uint64_t>({length, size - offset, options.readAheadBytes});
  std::vector<Run> runs;
  {
    const std::lock_guard<std::mutex> guard(lock);
    Claim(offset / options.blockSize, (offset + length - 1) / options.blockSize, runs, false);
  }
  for (Run& run : runs) {
    Fetch(run);
  }
}

Status RemoteObject::ReadCached(std::uint8_t* out, std::size_t length, std::uint64_t offset,
                                std::size_t& got) const {
  const std::uint64_t first = offset / options.blockSize;
  const std::uint64_t last = (offset + length - 1) / options.blockSize;
  std::vector<Run> runs;
  std::vector<BlockPointer> needed;
  {
    const std::lock_guard<std::mutex> guard(lock);
    needed = Claim(first, last, runs, true);
  }
  for (Run& run : runs) {
    Fetch(run);
  }
  std::unique_lock<std::mutex> held(lock);
  for (std::size_t i = 0; i < needed.size(); ++i) {
    Block& block = *needed[i];
    arrived.wait(held, [&block] { return block.state != Block::State::kPending; });
    if (block.state == Block::State::kFailed) {
      return block.failure;
    }
    const std::uint64_t start = (first + i) * options.blockSize;
    const std::size_t from = static_cast<std::size_t>(offset + got - start);
    const std::size_t take = std::min(length - got, block.bytes.size() - from);
    std::memcpy(out + got, block.bytes.data() + from, take);
    got += take;
    block.lastUse = ++clock;
  }
  return Status::Ok();
}

std::vector<RemoteObject::BlockPointer> RemoteObject::Claim(std::uint64_t first, std::uint64_t last,
                                                            std::vector<Run>& runs,
                                                            bool ahead) const {
  std::vector<BlockPointer> needed;
  const auto claim = [this, &runs](std::uint64_t number) {
    auto block = std::make_shared<Block>();
    blocks[number] = block;
    if (runs.empty() || runs.back().first + runs.back().count != number) {
      runs.push_back(Run{number, 0, {}});
    }
    ++runs.back().count;
    runs.back().blocks.push_back(block);
    return block;
  };
  for (std::uint64_t number = first; number <= last; ++number) {
    const auto found = blocks.find(number);
    needed.push_back(found != blocks.end() ? found->second : claim(number));
    needed.back()->lastUse = ++clock;
  }
  if (!ahead || runs.empty() || runs.back().first + runs.back().count != last + 1 ||
      runs.back().first == 0) {
    return needed;
  }
  // Sequential reading: the block before the miss is cached.
  Run& run = runs.back();
  const auto before = blocks.find(run.first - 1);
  if (before == blocks.end() || before->second->state != Block::State::kReady) {
    return needed;
  }
  const std::uint64_t most = std::max<std::uint64_t>(1, options.readAheadBytes / options.blockSize);
  const std::uint64_t window = std::min(before->second->window * 2, most);
  while (run.count < window && run.first + run.count < blockCount &&
         blocks.find(run.first + run.count) == blocks.end()) {
    claim(run.first + run.count);
  }
  return needed;
}

void RemoteObject::Fetch(Run& run) const {
  const std::uint64_t from = run.first * options.blockSize;
  std::size_t bytes = 0;
  for (std::uint64_t i = 0; i < run.count; ++i) {
    bytes += BlockBytes(run.first + i);
  }
  std::vector<std::uint8_t> buffer;
  Status status;
  try {
    buffer.resize(bytes);
    status = client->Read(from, bytes, buffer.data());
  } catch (const std::bad_alloc&) {
    status = Status(ErrorCode::kNoMemory, GetShown() + ": " + Describe(ErrorCode::kNoMemory));
  }
  const std::lock_guard<std::mutex> guard(lock);
  std::size_t at = 0;
  for (std::uint64_t i = 0; i < run.count; ++i) {
    Block& block = *run.blocks[i];
    const std::size_t length = BlockBytes(run.first + i);
    if (status.IsOk()) {
      block.bytes.assign(buffer.begin() + static_cast<std::ptrdiff_t>(at),
                         buffer.begin() + static_cast<std::ptrdiff_t>(at + length));
      block.state = Block::State::kReady;
      block.window = run.count;
      block.lastUse = ++clock;
    } else {
      // Forgotten, so that a later read asks again.
      block.state = Block::State::kFailed;
      block.failure = status;
      const auto found = blocks.find(run.first + i);
      if (found != blocks.end() && found->second == run.blocks[i]) {
        blocks.erase(found);
      }
    }
    at += length;
  }
  arrived.notify_all();
  Evict();
}

void RemoteObject::Evict() const {
  const std::size_t limit =
      static_cast<std::size_t>(std::max<std::uint64_t>(1, options.cacheBytes / options.blockSize));
  if (blocks.size() <= limit) {
    return;
  }
  // Only ready blocks that no reader holds can go.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> idle;  // last use, block number
  for (const auto& entry : blocks) {
    if (entry.second->state == Block::State::kReady && entry.second.use_count() == 1) {
      idle.emplace_back(entry.second->lastUse, entry.first);
    }
  }
  std::sort(idle.begin(), idle.end());
  for (std::size_t i = 0; i < idle.size() && blocks.size() > limit; ++i) {
    blocks.erase(idle[i].second);
  }
}

}  // namespace RXM
