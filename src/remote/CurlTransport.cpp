// The transport of the POSIX builds: libcurl, loaded by the first transport
// made (CurlLibrary).
//
// A pool of easy handles: a request takes an idle handle (or makes one), runs
// it with no lock held, and puts it back, so that the connection it keeps
// alive serves the next request. The handles share one name cache and the TLS
// sessions through a CURLSH, whose locks are held only for the moments curl
// touches that shared data. Proxies come from the environment as curl reads
// it (http_proxy, https_proxy, no_proxy).
#if !defined(_WIN32)

#include <curl/curl.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "remote/CurlLibrary.h"
#include "remote/Transport.h"

namespace RXM {
namespace http {
namespace {

// Idle handles kept beyond this number are closed instead.
constexpr std::size_t kIdleHandles = 32;

struct Handle {
  CURL* curl = nullptr;
  char error[CURL_ERROR_SIZE] = {};
};

using Clock = std::chrono::steady_clock;

// One transfer's state, handed to curl's callbacks.
struct Transfer {
  Receiver* receiver = nullptr;
  Head head;
  bool headGiven = false;
  bool abandoned = false;
  // Progress: at least `minimum` bytes in each window of `window`, counted
  // from the start of the request (its head included).
  std::uint64_t minimum = 0;
  Clock::duration window{};
  Clock::time_point windowStart = Clock::now();
  std::uint64_t windowBytes = 0;
  bool tooSlow = false;

  bool GiveHead() {
    if (!headGiven) {
      headGiven = true;
      abandoned = !receiver->TakeHead(head);
    }
    return !abandoned;
  }
};

std::string Trimmed(const char* text, std::size_t size) {
  while (size > 0 && (text[size - 1] == '\r' || text[size - 1] == '\n' || text[size - 1] == ' ')) {
    --size;
  }
  std::size_t start = 0;
  while (start < size && text[start] == ' ') {
    ++start;
  }
  return std::string(text + start, size - start);
}

// Whether the header line `line` is `name:` (any case); its value in `value`.
bool HeaderIs(const std::string& line, const char* name, std::string& value) {
  const std::size_t length = std::strlen(name);
  if (line.size() <= length || line[length] != ':' ||
      strncasecmp(line.c_str(), name, length) != 0) {
    return false;
  }
  value = Trimmed(line.c_str() + length + 1, line.size() - length - 1);
  return true;
}

// Every response of a redirect chain passes through here; a status line
// starts the head anew, so the final response's head is the one kept.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::string line = Trimmed(data, size * count);
  Head& head = transfer->head;
  std::string value;
  if (line.compare(0, 5, "HTTP/") == 0) {
    head = Head();
    const std::size_t space = line.find(' ');
    head.status = space == std::string::npos
                      ? 0
                      : static_cast<int>(std::strtol(line.c_str() + space + 1, nullptr, 10));
  } else if (HeaderIs(line, "Content-Range", value)) {
    head.contentRange = value;
  } else if (HeaderIs(line, "ETag", value)) {
    head.etag = value;
  } else if (HeaderIs(line, "Last-Modified", value)) {
    head.lastModified = value;
  } else if (HeaderIs(line, "Retry-After", value)) {
    head.retryAfter = value;
  } else if (HeaderIs(line, "Location", value)) {
    head.location = value;
  } else if (HeaderIs(line, "Content-Length", value)) {
    head.contentLength = std::strtoll(value.c_str(), nullptr, 10);
  }
  return size * count;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  if (!transfer->GiveHead() ||
      !transfer->receiver->TakeBody(reinterpret_cast<const std::uint8_t*>(data), size * count)) {
    transfer->abandoned = true;
    return 0;  // curl ends the transfer with CURLE_WRITE_ERROR
  }
  return size * count;
}

// Breaks the transfer off when a window passed with too few bytes in it.
int OnProgress(void* user, curl_off_t, curl_off_t now, curl_off_t, curl_off_t) {
  auto* transfer = static_cast<Transfer*>(user);
  const Clock::time_point at = Clock::now();
  if (transfer->window.count() <= 0 || at - transfer->windowStart < transfer->window) {
    return 0;
  }
  const auto received = static_cast<std::uint64_t>(now < 0 ? 0 : now);
  if (received - transfer->windowBytes < transfer->minimum) {
    transfer->tooSlow = true;
    return 1;  // curl ends the transfer with CURLE_ABORTED_BY_CALLBACK
  }
  transfer->windowStart = at;
  transfer->windowBytes = received;
  return 0;
}

Outcome OutcomeOf(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return Outcome::kDone;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
      return Outcome::kCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return Outcome::kTimedOut;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return Outcome::kBroken;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return Outcome::kSecure;
    case CURLE_TOO_MANY_REDIRECTS:
      return Outcome::kTooManyRedirects;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return Outcome::kBadUrl;
    default:
      return Outcome::kFailed;
  }
}

class CurlTransport : public Transport {
 public:
  // A transport whose every request fails, saying why, when libcurl cannot
  // be loaded.
  explicit CurlTransport(const RemoteOptions& options)
      : settings(options), lib(CurlLibrary::Get(&unavailable)) {
    if (lib == nullptr) {
      return;
    }
    share = lib->shareInit();
    lib->shareSetopt(share, CURLSHOPT_LOCKFUNC, &Lock);
    lib->shareSetopt(share, CURLSHOPT_UNLOCKFUNC, &Unlock);
    lib->shareSetopt(share, CURLSHOPT_USERDATA, this);
    lib->shareSetopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    lib->shareSetopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  }

  ~CurlTransport() override {
    for (Handle* handle : idle) {
      Close(handle);
    }
    if (lib != nullptr) {
      lib->shareCleanup(share);
    }
  }

  CurlTransport(const CurlTransport&) = delete;
  CurlTransport& operator=(const CurlTransport&) = delete;

  Result Get(const Request& request, Receiver& receiver) override {
    Result result;
    if (lib == nullptr) {
      result.outcome = Outcome::kNoClient;
      result.detail = "libcurl could not be loaded: " + unavailable;
      return result;
    }
    Handle* handle = Take();
    if (handle == nullptr) {
      result.detail = "libcurl could not make a handle";
      return result;
    }
    curl_slist* headers = nullptr;
    for (const std::string& line : request.headers) {
      headers = lib->slistAppend(headers, line.c_str());
    }
    const std::string range = std::to_string(request.first) + "-" + std::to_string(request.last);
    Transfer transfer;
    transfer.receiver = &receiver;
    transfer.window = std::chrono::milliseconds(settings.stallTimeoutMs);
    transfer.minimum = std::uint64_t{settings.minimumRate} * settings.stallTimeoutMs / 1000;
    CURL* curl = handle->curl;
    handle->error[0] = '\0';
    lib->setopt(curl, CURLOPT_URL, request.url.c_str());
    lib->setopt(curl, CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
    lib->setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeoutMs));
    lib->setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    lib->setopt(curl, CURLOPT_RANGE, range.c_str());
    lib->setopt(curl, CURLOPT_HTTPHEADER, headers);
    lib->setopt(curl, CURLOPT_HEADERDATA, &transfer);
    lib->setopt(curl, CURLOPT_WRITEDATA, &transfer);
    const CURLcode code = lib->perform(curl);
    if (code == CURLE_OK) {
      transfer.GiveHead();  // a response without a body
    }
    char* effective = nullptr;
    if (lib->getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
      result.effectiveUrl = effective;
    }
    result.outcome = transfer.abandoned ? Outcome::kAbandoned
                     : transfer.tooSlow ? Outcome::kTimedOut
                                        : OutcomeOf(code);
    result.detail = transfer.tooSlow ? "less than " + std::to_string(settings.minimumRate) +
                                           " bytes a second for " +
                                           std::to_string(settings.stallTimeoutMs) + " ms"
                    : handle->error[0] != '\0' ? handle->error
                                               : lib->strerror(code);
    lib->setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    lib->slistFreeAll(headers);
    Return(handle);
    return result;
  }

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<CurlTransport*>(user)->locks[data % kLocks].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* user) {
    static_cast<CurlTransport*>(user)->locks[data % kLocks].unlock();
  }

  Handle* Take() {
    {
      const std::lock_guard<std::mutex> lock(pool);
      if (!idle.empty()) {
        Handle* handle = idle.back();
        idle.pop_back();
        return handle;
      }
    }
    return Make();
  }

  void Return(Handle* handle) {
    {
      const std::lock_guard<std::mutex> lock(pool);
      if (idle.size() < kIdleHandles) {
        idle.push_back(handle);
        return;
      }
    }
    Close(handle);
  }

  void Close(Handle* handle) {
    lib->cleanup(handle->curl);
    delete handle;
  }

  Handle* Make() {
    auto* handle = new Handle();
    CURL* curl = lib->easyInit();
    if (curl == nullptr) {
      delete handle;
      return nullptr;
    }
    handle->curl = curl;
    lib->setopt(curl, CURLOPT_SHARE, share);
    lib->setopt(curl, CURLOPT_ERRORBUFFER, handle->error);
    lib->setopt(curl, CURLOPT_NOSIGNAL, 1L);  // threads: no SIGALRM for timeouts
    lib->setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    lib->setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    lib->setopt(curl, CURLOPT_MAXREDIRS, static_cast<long>(settings.maxRedirects));
    lib->setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connectTimeoutMs));
    // Too little progress is judged by OnProgress, which curl calls about
    // once a second even while nothing arrives.
    lib->setopt(curl, CURLOPT_NOPROGRESS, 0L);
    lib->setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    if (!settings.netrcFile.empty()) {
      lib->setopt(curl, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
      lib->setopt(curl, CURLOPT_NETRC_FILE, settings.netrcFile.c_str());
    }
    lib->setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    lib->setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!settings.caFile.empty()) {
      // CAINFO names the extra file; the system's folder of authorities
      // (CAPATH, left at its default) is still searched.
      lib->setopt(curl, CURLOPT_CAINFO, settings.caFile.c_str());
    }
    lib->setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
    lib->setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
    lib->setopt(curl, CURLOPT_USERAGENT, "RXMFiles");
    return handle;
  }

  static constexpr int kLocks = 8;
  RemoteOptions settings;
  std::string unavailable;  // why lib is null
  const CurlLibrary* lib;
  CURLSH* share = nullptr;
  std::mutex locks[kLocks];
  std::mutex pool;
  std::vector<Handle*> idle;
};

}  // namespace

std::shared_ptr<Transport> MakeTransport(const RemoteOptions& options) {
  return std::make_shared<CurlTransport>(options);
}

}  // namespace http
}  // namespace RXM

#endif  // !_WIN32
