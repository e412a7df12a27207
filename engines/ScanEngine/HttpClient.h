// GET requests over WinHTTP for one update (Get may run on several threads at once):
// bounded timeouts and one deadline for all requests together, redirects followed up to
// a limit, a proxy's challenge answered (and only a proxy's: no account is ever offered
// to a web server), HTTPS checked against the machine's certificate store and the
// revocation lists (WinHTTP's own check, never relaxed), bodies streamed in bounded
// pieces.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "EngineSettings.h"
#include "ProxyRoute.h"
#include "defset/SetOrigin.h"
#include "foundation/ResultChain.h"

namespace kv::refengine {

// An open WinHTTP handle, closed when the owner goes.
class InternetHandle {
 public:
  InternetHandle() = default;
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle() {
    if (handle_ != nullptr) ::WinHttpCloseHandle(handle_);
  }
  HINTERNET Get() const { return handle_; }
  void Reset(HINTERNET handle) {
    if (handle_ != nullptr) ::WinHttpCloseHandle(handle_);
    handle_ = handle;
  }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_ = nullptr;
};

struct HttpResponse {
  DWORD status = 0;
  Validators validators;
};

// The network time one update has left.
class TransferDeadline {
 public:
  void Start(DWORD ms) { end_ = ::GetTickCount64() + ms; }
  // Milliseconds left; 0 once the deadline has passed.
  DWORD Remaining() const;

 private:
  ULONGLONG end_ = 0;
};

// Part of a file of `total` bytes: `count` bytes from `first`.
struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  std::uint64_t total = 0;
};

// Receives a body piece by piece.
using BodySink = std::function<ResultChain(const char* data, std::size_t size)>;

class HttpClient {
 public:
  explicit HttpClient(const HttpSettings& settings) : settings_(settings), proxies_(settings) {}

  // Opens the session for direct requests, reads the proxy configuration and starts the
  // update's deadline ("TransferDeadlineSec").
  ResultChain Open();

  // GETs `url`. A 200 streams the body into `sink`: a body announced or found longer
  // than `maxBytes` is refused with `tooLong` before the excess is read, and one that
  // ends before its announced length fails as a dropped connection. With `conditional`
  // a 304 returns success with no body. Every other status fails with its
  // HttpStatusBase code; a proxy that refuses the account fails with
  // HTTP_STATUS_407_PROXY_AUTH_REQ. A request started, or a body still arriving, past
  // the deadline fails with TransferDeadlineExceeded.
  ResultChain Get(const std::wstring& url, const Validators* conditional, std::uint64_t maxBytes,
                  ErrorCode tooLong, const BodySink& sink, HttpResponse& response);

  // GETs `range` of `url` with "Range". Only a 206 for exactly that range (its
  // "Content-Range" and length) streams into `sink`; a 200 (a server that ignores
  // ranges), a 416 or a 206 for other bytes fail with RangeNotServed before any body is
  // read, so that the caller can fetch the file whole. A body that ends early fails as
  // a dropped connection; statuses and bounds otherwise as Get.
  ResultChain GetRange(const std::wstring& url, const ByteRange& range, const BodySink& sink);

  // The latest moment (UTC seconds) a 429 or 503 of this update asked for with
  // "Retry-After" (RetryAfterMoment); none when no answer did.
  std::optional<std::int64_t> AskedNotBefore() const;

 private:
  ResultChain Fetch(const std::wstring& url, const Validators* conditional, const ByteRange* range,
                    std::uint64_t maxBytes, ErrorCode tooLong, const BodySink& sink, HttpResponse& response);
  // The deadline's own failure where a wait it cut short failed as a timeout.
  ResultChain NameDeadline(const ResultChain& got) const;
  // The session whose requests go to `proxy` (empty: direct), opened on first use.
  ResultChain SessionFor(const std::wstring& proxy, HINTERNET& session);
  ResultChain ConfigureSession(HINTERNET session) const;
  // The request's timeouts, cut to what is left of the deadline.
  ResultChain BoundTimeouts(HINTERNET request, bool whole) const;
  ResultChain ReadBody(HINTERNET request, std::uint64_t maxBytes, ErrorCode tooLong, const BodySink& sink) const;
  ResultChain Send(HINTERNET request, const std::wstring& headers, DWORD& status);
  // The scheme to answer a proxy's challenge with; 0 when there is none to offer.
  DWORD AnswerProxyChallenge(HINTERNET request, ProxyCredentials offered);
  DWORD ProxyScheme() const;
  // Keeps the moment a "Retry-After" value names, the latest of several.
  void NoteRetryAfter(const std::wstring& value);
  ResultChain SetProxyCredentials(HINTERNET request, DWORD scheme, ProxyCredentials offered) const;

  const HttpSettings& settings_;
  ProxyResolver proxies_;
  TransferDeadline deadline_;
  InternetHandle direct_;
  // Sessions by proxy, each with WinHTTP told that one proxy and no bypass, so that
  // WinHTTP routes a request exactly as ProxyResolver decided.
  SRWLOCK sessionsLock_ = SRWLOCK_INIT;
  std::vector<std::pair<std::wstring, std::unique_ptr<InternetHandle>>> proxied_;
  // Get runs on several threads at once (one file each); this guards the scheme and
  // the moment asked for.
  mutable SRWLOCK lock_ = SRWLOCK_INIT;
  // The scheme the proxy was answered with once; offered at once on later requests.
  DWORD proxyScheme_ = 0;
  std::optional<std::int64_t> askedNotBefore_;
};

// A base address for file names: "http://" or "https://", no query or fragment, a
// trailing "/" added. UpdateUrlInvalid otherwise.
ResultChain NormalizeBaseUrl(const std::wstring& url, std::wstring& base);

// `name` appended to a base address, percent-encoded as UTF-8.
std::wstring FileUrl(const std::wstring& base, const std::wstring& name);

}  // namespace kv::refengine
