// The transport of the Windows builds: WinHTTP, part of Windows (no DLL to
// ship).
//
// One session per transport; WinHTTP keeps its connections alive and pools
// them per session, so each request opens its connection and request handles
// and closes them when done, and calls run at once from many threads with no
// lock of ours. Proxies are WinHTTP's: the automatic configuration on Windows
// 8.1 and later, else what "netsh winhttp" set.
//
// Differences from libcurl, said in docs/remote.md: a CA file cannot be
// added (WinHTTP trusts the Windows store only; an https object is refused
// with kSecureFailed, naming certutil), and with an Authorization header
// redirects are not followed (WinHTTP would send the header to the new host
// too), so such a URL must name the object itself.
#if defined(_WIN32)

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "remote/Transport.h"

namespace RXM {
namespace http {
namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) {
    return std::wstring();
  }
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) {
    return std::string();
  }
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], length,
                      nullptr, nullptr);
  return text;
}

// Closes a WinHTTP handle at the end of the scope.
struct Handle {
  HINTERNET value = nullptr;
  explicit Handle(HINTERNET opened) : value(opened) {}
  ~Handle() {
    if (value != nullptr) {
      WinHttpCloseHandle(value);
    }
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

std::string Header(HINTERNET request, DWORD which) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
    return std::string();
  }
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, &value[0], &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return std::string();
  }
  value.resize(size / sizeof(wchar_t));
  return Narrow(value);
}

Outcome OutcomeOf(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return Outcome::kCannotConnect;
    case ERROR_WINHTTP_TIMEOUT:
      return Outcome::kTimedOut;
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return Outcome::kBroken;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return Outcome::kSecure;
    case ERROR_WINHTTP_REDIRECT_FAILED:
      return Outcome::kTooManyRedirects;
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return Outcome::kBadUrl;
    default:
      return Outcome::kFailed;
  }
}

Result Failed(DWORD error) {
  Result result;
  result.outcome = OutcomeOf(error);
  result.detail = "WinHTTP error " + std::to_string(error);
  return result;
}

class WinHttpTransport : public Transport {
 public:
  explicit WinHttpTransport(const RemoteOptions& options)
      : settings(options), session(OpenSession()) {
    if (session != nullptr) {
      const int connect = static_cast<int>(settings.connectTimeoutMs);
      const int stall = static_cast<int>(settings.stallTimeoutMs);
      WinHttpSetTimeouts(session, connect, connect, stall, stall);
      DWORD redirects = settings.maxRedirects;
      WinHttpSetOption(session, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects,
                       sizeof redirects);
    }
  }
  ~WinHttpTransport() override {
    if (session != nullptr) {
      WinHttpCloseHandle(session);
    }
  }
  WinHttpTransport(const WinHttpTransport&) = delete;
  WinHttpTransport& operator=(const WinHttpTransport&) = delete;

  // The session, with the system's proxy settings; null when WinHTTP has none.
  static HINTERNET OpenSession() {
    HINTERNET opened = WinHttpOpen(L"RXMFiles", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                   WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (opened == nullptr) {  // before Windows 8.1
      opened = WinHttpOpen(L"RXMFiles", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
    }
    return opened;
  }

  Result Get(const Request& request, Receiver& receiver) override {
    if (session == nullptr) {
      return Failed(GetLastError());
    }
    const std::wstring url = Wide(request.url);
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
      return Failed(GetLastError());
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    Handle connection(WinHttpConnect(session, host.c_str(), parts.nPort, 0));
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    if (secure && !settings.caFile.empty()) {
      Result refused;
      refused.outcome = Outcome::kSecure;
      refused.detail =
          "WinHTTP cannot add a CA file; add it to the Windows store instead "
          "(certutil -addstore Root FILE)";
      return refused;
    }
    Handle opened(connection.value == nullptr
                      ? nullptr
                      : WinHttpOpenRequest(connection.value, L"GET", path.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           secure ? WINHTTP_FLAG_SECURE : 0));
    if (opened.value == nullptr) {
      return Failed(GetLastError());
    }
    return Send(opened.value, request, receiver);
  }

 private:
  Result Send(HINTERNET handle, const Request& request, Receiver& receiver) {
    std::string lines = "Range: bytes=" + std::to_string(request.first) + "-" +
                        std::to_string(request.last) + "\r\n";
    bool authorized = false;
    for (const std::string& line : request.headers) {
      lines += line + "\r\n";
      authorized = authorized || line.compare(0, 14, "Authorization:") == 0;
    }
    if (authorized || !request.followRedirects) {
      DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
      WinHttpSetOption(handle, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
    }
    // A window with no byte fails a receive; the deadline caps every wait.
    const auto capped = [&request](std::uint32_t ms) {
      return static_cast<int>(request.timeoutMs != 0 && request.timeoutMs < ms ? request.timeoutMs
                                                                               : ms);
    };
    const int connect = capped(settings.connectTimeoutMs);
    const int window = capped(settings.stallTimeoutMs);
    WinHttpSetTimeouts(handle, connect, connect, window, window);
    const std::wstring headers = Wide(lines);
    if (!WinHttpSendRequest(handle, headers.c_str(), static_cast<DWORD>(headers.size()),
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(handle, nullptr)) {
      return Failed(GetLastError());
    }
    Head head;
    DWORD status = 0;
    DWORD size = sizeof status;
    WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    head.status = static_cast<int>(status);
    head.contentRange = Header(handle, WINHTTP_QUERY_CONTENT_RANGE);
    head.etag = Header(handle, WINHTTP_QUERY_ETAG);
    head.lastModified = Header(handle, WINHTTP_QUERY_LAST_MODIFIED);
    head.retryAfter = Header(handle, WINHTTP_QUERY_RETRY_AFTER);
    head.location = Header(handle, WINHTTP_QUERY_LOCATION);
    const std::string length = Header(handle, WINHTTP_QUERY_CONTENT_LENGTH);
    char* end = nullptr;
    const long long given = std::strtoll(length.c_str(), &end, 10);
    head.contentLength = length.empty() || *end != '\0' || given < 0 ? -1 : given;
    Result result;
    std::wstring effective(2048, L'\0');
    DWORD effectiveSize = static_cast<DWORD>(effective.size() * sizeof(wchar_t));
    if (WinHttpQueryOption(handle, WINHTTP_OPTION_URL, &effective[0], &effectiveSize)) {
      effective.resize(effectiveSize / sizeof(wchar_t));
      result.effectiveUrl = Narrow(effective);
    }
    if (!receiver.TakeHead(head)) {
      result.outcome = Outcome::kAbandoned;
      return result;
    }
    return Receive(handle, request, receiver, result);
  }

  // The body, broken off (kTimedOut) past the request's deadline or when a
  // window of stallTimeoutMs brought fewer than minimumRate bytes a second.
  Result Receive(HINTERNET handle, const Request& request, Receiver& receiver,
                 Result result) const {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point windowStart = start;
    std::uint64_t windowBytes = 0;
    const std::uint64_t least =
        std::uint64_t{settings.minimumRate} * settings.stallTimeoutMs / 1000;
    std::vector<std::uint8_t> buffer(256 * 1024);
    for (;;) {
      const Clock::time_point now = Clock::now();
      if (request.timeoutMs != 0 && now - start >= std::chrono::milliseconds(request.timeoutMs)) {
        result.outcome = Outcome::kTimedOut;
        result.detail = "the request's deadline passed";
        return result;
      }
      if (now - windowStart >= std::chrono::milliseconds(settings.stallTimeoutMs)) {
        if (windowBytes < least) {
          result.outcome = Outcome::kTimedOut;
          result.detail = "less than " + std::to_string(settings.minimumRate) +
                          " bytes a second for " + std::to_string(settings.stallTimeoutMs) + " ms";
          return result;
        }
        windowStart = now;
        windowBytes = 0;
      }
      DWORD got = 0;
      if (!WinHttpReadData(handle, buffer.data(), static_cast<DWORD>(buffer.size()), &got)) {
        Result failed = Failed(GetLastError());
        failed.effectiveUrl = result.effectiveUrl;
        return failed;
      }
      if (got == 0) {
        result.outcome = Outcome::kDone;
        return result;
      }
      windowBytes += got;
      if (!receiver.TakeBody(buffer.data(), got)) {
        result.outcome = Outcome::kAbandoned;
        return result;
      }
    }
  }

  RemoteOptions settings;
  HINTERNET session = nullptr;
};

}  // namespace

std::shared_ptr<Transport> MakeTransport(const RemoteOptions& options) {
  return std::make_shared<WinHttpTransport>(options);
}

}  // namespace http
}  // namespace RXM

#endif  // _WIN32
