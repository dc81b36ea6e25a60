#include "remote/RangeClient.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "files/Failure.h"
#include "files/Url.h"

namespace RXM {
namespace {

std::string WithoutUserinfo(const std::string& address) {
  std::string userinfo;
  return SplitUserinfo(address, userinfo);
}

std::string UserinfoOf(const std::string& address) {
  std::string userinfo;
  SplitUserinfo(address, userinfo);
  return userinfo;
}

// "bytes FIRST-LAST/TOTAL" or "bytes */TOTAL" (then `first` > `last`).
bool ParseContentRange(const std::string& text, std::uint64_t& first, std::uint64_t& last,
                       std::uint64_t& total) {
  if (text.compare(0, 6, "bytes ") != 0) {
    return false;
  }
  const char* at = text.c_str() + 6;
  char* end = nullptr;
  if (*at == '*') {
    first = 1;
    last = 0;
    end = const_cast<char*>(at + 1);
  } else {
    first = std::strtoull(at, &end, 10);
    if (end == at || *end != '-') {
      return false;
    }
    at = end + 1;
    last = std::strtoull(at, &end, 10);
    if (end == at || last < first) {
      return false;
    }
  }
  if (*end != '/') {
    return false;
  }
  at = end + 1;
  total = std::strtoull(at, &end, 10);
  return end != at && *end == '\0';
}

bool Retryable(int status) {
  return status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

std::string HttpStatus(int status) {
  return "HTTP " + std::to_string(status);
}

std::string Base64(const std::string& text) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 3) {
    std::uint32_t group = static_cast<std::uint8_t>(text[i]) << 16;
    const std::size_t left = text.size() - i;
    group |= left > 1 ? static_cast<std::uint32_t>(static_cast<std::uint8_t>(text[i + 1])) << 8 : 0;
    group |= left > 2 ? static_cast<std::uint8_t>(text[i + 2]) : 0;
    out += kDigits[(group >> 18) & 63];
    out += kDigits[(group >> 12) & 63];
    out += left > 1 ? kDigits[(group >> 6) & 63] : '=';
    out += left > 2 ? kDigits[group & 63] : '=';
  }
  return out;
}

std::string Span(std::uint64_t first, std::uint64_t last) {
  return std::to_string(first) + "-" + std::to_string(last);
}

}  // namespace

// One request's answer as it arrives: checked at its head before any of its
// body is taken, so that bytes of another version of the object never reach
// the caller. Range reads resume: `received` counts across attempts.
class RangeClient::Exchange : public http::Receiver {
 public:
  Exchange(RangeClient& owner, Opening* opened)
      : client(owner), opening(opened), expected(owner.options.blockSize) {}
  Exchange(RangeClient& owner, std::uint64_t from, std::size_t length, std::uint8_t* into)
      : client(owner), first(from), expected(length), out(into) {}

  // Before each attempt: the range still missing.
  void Begin(http::Request& request) {
    head = http::Head();
    retry = false;
    if (opening != nullptr) {
      opening->bytes.clear();
      received = 0;
    } else {
      request.first = first + received;
    }
    asked = request.first;
    askedLast = request.last;
  }

  bool TakeHead(const http::Head& answer) override {
    head = answer;
    if (Retryable(head.status)) {
      retry = true;
      return false;
    }
    return opening != nullptr ? OpeningHead() : RangeHead();
  }

  bool TakeBody(const std::uint8_t* bytes, std::size_t length) override {
    if (length > expected - received) {
      verdict = unknownLength
                    ? Fail(ErrorCode::kRangeIgnored,
                           "more than the " + std::to_string(expected) + " bytes taken whole")
                    : Fail(ErrorCode::kRemoteFailed, "the server sent more bytes than asked for");
      return false;
    }
    if (opening != nullptr) {
      opening->bytes.insert(opening->bytes.end(), bytes, bytes + length);
    } else {
      std::memcpy(out + received, bytes, length);
    }
    received += length;
    return true;
  }

  // Whether everything expected arrived, given how the transfer ended.
  bool Complete(http::Outcome outcome) const {
    if (head.status == 0 || retry || outcome != http::Outcome::kDone) {
      return false;
    }
    return (opening != nullptr && unknownLength) || received == expected;
  }

  Status Fail(ErrorCode code, const std::string& detail) const {
    return Failure(code, client.shown, std::string(Describe(code)) + " (" + detail + ")");
  }

  http::Head head;
  Status verdict;  // a final refusal, decided at the head or in the body
  bool retry = false;

 private:
  // Answers that end the read whatever the request was.
  bool Refused() {
    const int status = head.status;
    if (status == 404 || status == 410) {
      verdict = Fail(ErrorCode::kRemoteNotFound, HttpStatus(status));
    } else if (status == 401 || status == 403) {
      verdict = Fail(ErrorCode::kRemoteForbidden, HttpStatus(status));
    } else if (status != 200 && status != 206 && status != 412 && status != 416) {
      verdict = Fail(ErrorCode::kRemoteFailed, HttpStatus(status));
    }
    return !verdict.IsOk();
  }

  bool OpeningHead() {
    if (Refused()) {
      return false;
    }
    std::uint64_t from = 0, to = 0, total = 0;
    const bool ranged = ParseContentRange(head.contentRange, from, to, total);
    if (head.status == 206 && ranged && from == 0 && to <= askedLast && to < total &&
        LengthIs(to - from + 1)) {
      expected = to - from + 1;
      return TakeValidator(total);
    }
    if (head.status == 416 && ranged && from > to && total == 0) {
      expected = 0;  // an empty object: no byte can be asked for
      return TakeValidator(0);
    }
    if (head.status == 200) {
      return TakeWhole();
    }
    verdict = Fail(ErrorCode::kRemoteFailed, Unasked());
    return false;
  }

  // Whether a Content-Length, when given, is `length`.
  bool LengthIs(std::uint64_t length) const {
    return head.contentLength < 0 || static_cast<std::uint64_t>(head.contentLength) == length;
  }

  std::string Unasked() const {
    return "asked for bytes " + Span(asked, askedLast) + ", the " + HttpStatus(head.status) +
           " answer sent Content-Range \"" + head.contentRange + "\" and Content-Length " +
           std::to_string(head.contentLength);
  }

  // A server that ignores Range sends everything: taken when small enough.
  bool TakeWhole() {
    const std::uint64_t limit = client.options.wholeObjectLimit;
    if (head.contentLength > 0 && static_cast<std::uint64_t>(head.contentLength) > limit) {
      verdict = Fail(ErrorCode::kRangeIgnored, std::to_string(head.contentLength) +
                                                   " bytes sent whole, more than the " +
                                                   std::to_string(limit) + " taken so");
      return false;
    }
    opening->whole = true;
    unknownLength = head.contentLength < 0;
    expected = unknownLength ? limit : static_cast<std::uint64_t>(head.contentLength);
    return TakeValidator(expected);
  }

  bool TakeValidator(std::uint64_t total) {
    opening->size = total;
    client.size = total;
    client.weakEtag = head.etag.compare(0, 2, "W/") == 0;
    client.etag = head.etag;
    client.lastModified = head.lastModified;
    return true;
  }

  bool SameVersion() const {
    if (!client.etag.empty() && !head.etag.empty()) {
      return head.etag == client.etag;
    }
    if (!client.lastModified.empty() && !head.lastModified.empty()) {
      return head.lastModified == client.lastModified;
    }
    return true;
  }

  bool RangeHead() {
    if (head.status >= 300 && head.status < 400) {
      verdict = Fail(ErrorCode::kRemoteFailed, HttpStatus(head.status) + " to " +
                                                   RedactUrl(head.location) +
                                                   ": only the opening request may be redirected");
      return false;
    }
    if (Refused()) {
      return false;
    }
    std::uint64_t from = 0, to = 0, total = 0;
    const bool ranged = ParseContentRange(head.contentRange, from, to, total);
    const bool validated = !client.etag.empty() || !client.lastModified.empty();
    if (head.status == 412 || head.status == 416 || !SameVersion() ||
        (head.status == 200 && validated) || (ranged && total != client.size)) {
      verdict = Fail(ErrorCode::kRemoteChanged, Changed(ranged, total));
    } else if (head.status == 200) {
      verdict = Fail(ErrorCode::kRangeIgnored, "a range answered by the whole object");
    } else if (!ranged || from != asked || to != askedLast || !LengthIs(to - from + 1)) {
      verdict = Fail(ErrorCode::kRemoteFailed, Unasked());
    }
    return verdict.IsOk();
  }

  std::string Changed(bool ranged, std::uint64_t total) const {
    if (!SameVersion()) {
      return head.etag != client.etag
                 ? "ETag " + client.etag + " is now " + head.etag
                 : "Last-Modified " + client.lastModified + " is now " + head.lastModified;
    }
    if (ranged && total != client.size) {
      return "its size " + std::to_string(client.size) + " is now " + std::to_string(total);
    }
    return HttpStatus(head.status) + " to a guarded range";
  }

  RangeClient& client;
  Opening* opening = nullptr;
  std::uint64_t first = 0;
  std::uint64_t asked = 0;
  std::uint64_t askedLast = 0;
  std::uint64_t expected = 0;
  std::uint64_t received = 0;
  std::uint8_t* out = nullptr;
  bool unknownLength = false;
};

// The URL's own user information travels as an Authorization header (so a
// password with a raw "/" or "#" is taken whole, see UserinfoEnd), never in
// the URL a client logs or reports back.
RangeClient::RangeClient(std::shared_ptr<http::Transport> client, const std::string& address,
                         RemoteOptions settings)
    : transport(std::move(client)),
      url(WithoutUserinfo(address)),
      target(url),
      shown(RedactUrl(address)),
      options(std::move(settings)) {
  const std::string userinfo = UserinfoOf(address);
  const std::string& pair = !userinfo.empty() ? userinfo : options.credentials;
  if (!options.authorization.empty()) {
    authorization = options.authorization;
  } else if (!pair.empty()) {
    authorization = "Basic " + Base64(pair);
  }
}

std::vector<std::string> RangeClient::HeadersFor(const std::string& to, bool guarded) const {
  std::vector<std::string> headers;
  if (!authorization.empty() && OriginOf(to) == OriginOf(url)) {
    headers.push_back("Authorization: " + authorization);
  }
  if (!guarded) {
    return headers;
  }
  // If-Match turns a replaced object into 412, and If-Range into 200, on
  // servers that know only one of them; a weak ETag cannot guard ranges, so
  // the date does.
  if (!etag.empty() && !weakEtag) {
    headers.push_back("If-Match: " + etag);
    headers.push_back("If-Range: " + etag);
  } else if (!lastModified.empty()) {
    headers.push_back("If-Unmodified-Since: " + lastModified);
    headers.push_back("If-Range: " + lastModified);
  }
  return headers;
}

std::uint32_t RangeClient::RetryDelay(std::uint32_t attempt, const http::Head& head) const {
  const std::uint32_t longest = options.longestRetryDelayMs;
  if (!head.retryAfter.empty()) {
    char* end = nullptr;
    const unsigned long seconds = std::strtoul(head.retryAfter.c_str(), &end, 10);
    if (end != head.retryAfter.c_str() && *end == '\0') {
      return seconds * 1000 < longest ? static_cast<std::uint32_t>(seconds * 1000) : longest;
    }
  }
  const std::uint64_t delay = static_cast<std::uint64_t>(options.retryDelayMs) << (attempt - 2);
  return delay < longest ? static_cast<std::uint32_t>(delay) : longest;
}

Status RangeClient::Open(Opening& opening) {
  http::Request request;
  request.url = url;
  request.first = 0;
  request.last = options.blockSize - 1;
  request.headers = HeadersFor(url, false);
  Exchange exchange(*this, &opening);
  Status status = Run(request, exchange, &target);
  if (status.IsOk() && opening.whole) {
    opening.size = opening.bytes.size();
    size = opening.size;
  }
  return status;
}

Status RangeClient::Read(std::uint64_t first, std::size_t length, std::uint8_t* into) const {
  if (length == 0) {
    return Status::Ok();
  }
  http::Request request;
  request.url = target;
  request.last = first + length - 1;
  request.headers = HeadersFor(target, true);
  request.followRedirects = false;  // later requests go straight where the opening led
  // The exchange changes nothing of the client once it is open.
  Exchange exchange(const_cast<RangeClient&>(*this), first, length, into);
  return Run(request, exchange);
}

Status RangeClient::Run(http::Request request, Exchange& exchange, std::string* effective) const {
  using Clock = std::chrono::steady_clock;
  const std::uint64_t allowed = options.DeadlineFor(request.last - request.first + 1);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(allowed);
  const auto remaining = [&deadline] {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<std::uint64_t>(left) : std::uint64_t{0};
  };
  const auto late = [&exchange, allowed](std::uint32_t attempt) {
    return exchange.Fail(ErrorCode::kRemoteTimedOut, "no complete answer within its deadline of " +
                                                         std::to_string(allowed) + " ms, " +
                                                         std::to_string(attempt) + " attempts");
  };
  Status last;
  const std::uint32_t attempts = options.attempts < 1 ? 1 : options.attempts;
  for (std::uint32_t attempt = 1; attempt <= attempts; ++attempt) {
    if (attempt > 1) {
      const std::uint32_t delay = RetryDelay(attempt, exchange.head);
      if (delay >= remaining()) {
        return late(attempt - 1);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
    request.timeoutMs = remaining();
    if (request.timeoutMs == 0) {
      return late(attempt - 1);
    }
    exchange.Begin(request);
    ++requests;
    const http::Result result = transport->Get(request, exchange);
    if (!exchange.verdict.IsOk()) {
      return exchange.verdict;
    }
    if (exchange.Complete(result.outcome)) {
      if (effective != nullptr && !result.effectiveUrl.empty()) {
        *effective = result.effectiveUrl;
      }
      return Status::Ok();
    }
    switch (result.outcome) {
      case http::Outcome::kSecure:
        return exchange.Fail(ErrorCode::kSecureFailed, result.detail);
      case http::Outcome::kTooManyRedirects:
        return exchange.Fail(ErrorCode::kRemoteFailed,
                             "more than " + std::to_string(options.maxRedirects) + " redirects");
      case http::Outcome::kBadUrl:
      case http::Outcome::kNoClient:  // no more there at a second attempt
        return exchange.Fail(ErrorCode::kCannotOpen, result.detail);
      default:
        break;
    }
    last = exchange.retry
               ? exchange.Fail(ErrorCode::kRemoteFailed, HttpStatus(exchange.head.status) + ", " +
                                                             std::to_string(attempt) + " attempts")
           : result.outcome == http::Outcome::kTimedOut && remaining() == 0 ? late(attempt)
           : result.outcome == http::Outcome::kTimedOut
               ? exchange.Fail(ErrorCode::kRemoteTimedOut,
                               result.detail + ", " + std::to_string(attempt) + " attempts")
           : result.outcome == http::Outcome::kDone
               ? exchange.Fail(ErrorCode::kNetworkFailed,
                               "the response ended early, " + std::to_string(attempt) + " attempts")
               : exchange.Fail(ErrorCode::kNetworkFailed,
                               result.detail + ", " + std::to_string(attempt) + " attempts");
  }
  return last;
}

}  // namespace RXM
