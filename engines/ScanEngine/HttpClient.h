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
#include "HttpUrl.h"
#include "ProxyRoute.h"
#include "defset/SetOrigin.h"
#include "foundation/ResultChain.h"
#include "foundation/TickBudget.h"
#include "foundation/UniqueOwner.h"

namespace kv::refengine {

// An open WinHTTP handle, closed when the owner goes.
using InternetHandle = UniqueOwner<HINTERNET, &::WinHttpCloseHandle>;

struct HttpResponse {
  DWORD status = 0;
  Validators validators;
};

// The network time one update has left.
class TransferDeadline {
 public:
  void Start(DWORD ms) {
    begin_ = ::GetTickCount64();
    budgetMs_ = ms;
  }
  // Milliseconds left; 0 once the deadline has passed.
  DWORD Remaining() const { return MillisecondsLeft(begin_, budgetMs_); }

 private:
  ULONGLONG begin_ = 0;
  ULONGLONG budgetMs_ = 0;
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
  // One GET on its way to its answer: where it went, and what the proxy may be offered.
  struct Exchange {
    UrlParts parts;
    // Declared before the request, so that the request is closed first.
    InternetHandle connection;
    InternetHandle request;
    bool viaProxy = false;
    ProxyCredentials offered = ProxyCredentials::kNone;
    // The proxy has been offered the account on this request.
    bool answered = false;
  };

  ResultChain Fetch(const std::wstring& url, const Validators* conditional, const ByteRange* range,
                    std::uint64_t maxBytes, ErrorCode tooLong, const BodySink& sink, HttpResponse& response);
  // Connects to where `url` leads, directly or through its proxy, and opens the GET with
  // its options, timeouts and the proxy scheme already known.
  ResultChain OpenExchange(const std::wstring& url, Exchange& exchange);
  ResultChain SetRequestOptions(HINTERNET request, bool secure) const;
  // Sends the GET, answering a proxy's challenge; `status` is the answer's.
  ResultChain SendAnsweringProxy(Exchange& exchange, const std::wstring& headers, DWORD& status);
  // The address a redirect leads to, into `url`: at most maxRedirects of them, none from
  // HTTPS to plain HTTP.
  ResultChain FollowRedirect(const Exchange& exchange, DWORD status, unsigned& redirects, std::wstring& url) const;
  // The body of an answer to a range request, when it is exactly `expectedRange`.
  ResultChain ReceiveRange(HINTERNET request, DWORD status, const std::wstring& expectedRange, std::uint64_t maxBytes,
                           ErrorCode tooLong, const BodySink& sink) const;
  // The body of a 200 and its validators.
  ResultChain ReceiveWhole(HINTERNET request, DWORD status, std::uint64_t maxBytes, ErrorCode tooLong,
                           const BodySink& sink, HttpResponse& response) const;
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

}  // namespace kv::refengine
