#include "HttpClient.h"

#include <algorithm>
#include <vector>

#include "HttpCodes.h"
#include "HttpOption.h"
#include "ResultText.h"
#include "RetryAfter.h"
#include "defset/DefinitionManifest.h"
#include "defset/EngineCodes.h"
#include "foundation/ErrorCodes.h"
#include "foundation/SrwGuard.h"
#include "foundation/TextFormat.h"

#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

namespace kv::refengine {

namespace {

// Larger pieces than for disk copies, since each read costs a round through the network
// stack (a slow one under Wine); one piece per transfer bounds the memory a body takes.
constexpr DWORD kChunkBytes = 1024 * 1024;
// Validators longer than this, or holding control characters, are not sent back.
constexpr std::size_t kMaxValidatorLength = 512;
// A redirect from HTTPS to plain HTTP, refused (the number WinINet names it by).
constexpr DWORD kHttpsToHttpOnRedirect = 12040;

const std::wstring kUserAgent = std::wstring(L"Kestravondalsc-ScanEngine/") + kEngineVersion;

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A response header as text; empty when it is missing.
std::wstring Header(HINTERNET request, DWORD query) {
  DWORD bytes = 0;
  ::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &bytes,
                        WINHTTP_NO_HEADER_INDEX);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return {};
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
  if (!::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  return std::wstring(buffer.data(), bytes / sizeof(wchar_t));
}

// A header value fit to be sent back: short, on one line.
std::wstring SafeValidator(const std::wstring& value) {
  if (value.size() > kMaxValidatorLength) return {};
  for (wchar_t c : value) {
    if (c < 0x20 || c == 0x7F) return {};
  }
  return value;
}

bool ContentLength(HINTERNET request, std::uint64_t& length) {
  return ParseSize(Header(request, WINHTTP_QUERY_CONTENT_LENGTH), length);
}

// The request's own headers, and the "Content-Range" that answers its range.
struct RequestHeaders {
  std::wstring text;
  std::wstring expectedRange;
};

RequestHeaders HeadersFor(const Validators* conditional, const ByteRange* range) {
  RequestHeaders headers;
  if (range != nullptr) {
    const auto last = static_cast<unsigned long long>(range->first + range->count - 1);
    headers.text += FormatText(L"Range: bytes=%llu-%llu\r\n", static_cast<unsigned long long>(range->first), last);
    headers.expectedRange = FormatText(L"bytes %llu-%llu/%llu", static_cast<unsigned long long>(range->first), last,
                                       static_cast<unsigned long long>(range->total));
  }
  if (conditional != nullptr) {
    if (const std::wstring etag = SafeValidator(conditional->etag); !etag.empty()) {
      headers.text += L"If-None-Match: " + etag + L"\r\n";
    }
    if (const std::wstring since = SafeValidator(conditional->lastModified); !since.empty()) {
      headers.text += L"If-Modified-Since: " + since + L"\r\n";
    }
  }
  return headers;
}

// Some proxies (tinyproxy among them) refuse offered credentials with a 401 of their own
// rather than a second 407. A 401 that no proxy passed on ("Via") after the proxy was
// answered is that refusal. Any other 401 fails with its status: no server is ever
// answered.
bool IsProxyRefusal(HINTERNET request, DWORD status, bool answered) {
  return status == HTTP_STATUS_DENIED && answered && Header(request, WINHTTP_QUERY_VIA).empty();
}

}  // namespace

ResultChain HttpClient::ConfigureSession(HINTERNET session) const {
  const int connect = static_cast<int>(settings_.connectTimeoutMs);
  if (!::WinHttpSetTimeouts(session, connect, connect, static_cast<int>(settings_.sendTimeoutMs),
                            static_cast<int>(settings_.receiveTimeoutMs))) {
    return KV_MARK(WinHttpFailure(::GetLastError()));
  }
  // Current TLS versions where the system leaves them off by default; a system that
  // knows neither flag keeps its own choice.
  if (SetHttpOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS,
               WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3)
          .Failed()) {
    // Refused too: the system's own default protocols apply.
    (void)SetHttpOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2);
  }
  return {};
}

ResultChain HttpClient::Open() {
  deadline_.Start(settings_.transferDeadlineMs);
  direct_.Reset(::WinHttpOpen(kUserAgent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0));
  if (!direct_.IsOpen()) return KV_MARK(WinHttpFailure(::GetLastError()));
  KV_RETURN_IF_FAILED(ConfigureSession(direct_.Get()));
  proxies_.Open();
  return {};
}

ResultChain HttpClient::SessionFor(const std::wstring& proxy, HINTERNET& session) {
  session = direct_.Get();
  if (proxy.empty()) return {};
  ExclusiveGuard guard(sessionsLock_);
  const auto known = std::find_if(proxied_.begin(), proxied_.end(), [&](const auto& p) { return p.first == proxy; });
  if (known != proxied_.end()) {
    session = known->second->Get();
    return {};
  }
  auto opened = std::make_unique<InternetHandle>(
      ::WinHttpOpen(kUserAgent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, 0));
  if (!opened->IsOpen()) return KV_MARK(ResultChain(InvalidProxyServer) + WinHttpFailure(::GetLastError()));
  KV_RETURN_IF_FAILED(ConfigureSession(opened->Get()));
  session = opened->Get();
  proxied_.emplace_back(proxy, std::move(opened));
  return {};
}

ResultChain HttpClient::BoundTimeouts(HINTERNET request, bool whole) const {
  const DWORD left = deadline_.Remaining();
  if (left == 0) return KV_MARK(TransferDeadlineExceeded);
  const auto bound = [left](DWORD ms) { return std::min(ms, left); };
  // Between pieces of a body only a deadline nearer than the receive timeout needs it cut.
  if (!whole) {
    if (left >= settings_.receiveTimeoutMs) return {};
    return KV_MARK(SetHttpOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, left));
  }
  const int connect = static_cast<int>(bound(settings_.connectTimeoutMs));
  if (!::WinHttpSetTimeouts(request, connect, connect, static_cast<int>(bound(settings_.sendTimeoutMs)),
                            static_cast<int>(bound(settings_.receiveTimeoutMs)))) {
    return KV_MARK(WinHttpFailure(::GetLastError()));
  }
  // WinHTTP's own default for the wait for a response may be unlimited.
  return KV_MARK(SetHttpOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, bound(settings_.receiveTimeoutMs)));
}

ResultChain HttpClient::ReadBody(HINTERNET request, std::uint64_t maxBytes, ErrorCode tooLong,
                                 const BodySink& sink) const {
  std::uint64_t announced = 0;
  const bool hasLength = ContentLength(request, announced);
  if (hasLength && announced > maxBytes) return KV_MARK(tooLong);
  std::vector<char> chunk(kChunkBytes);
  std::uint64_t total = 0;
  for (;;) {
    // Waiting for what has arrived, rather than for a full piece, returns after every
    // piece of a trickle, so that the deadline is looked at between them.
    KV_RETURN_IF_FAILED(BoundTimeouts(request, false));
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(request, &available)) return KV_MARK(WinHttpFailure(::GetLastError()));
    if (available == 0) break;
    DWORD got = 0;
    if (!::WinHttpReadData(request, chunk.data(), std::min(available, kChunkBytes), &got)) {
      return KV_MARK(WinHttpFailure(::GetLastError()));
    }
    if (got == 0) break;
    if (got > maxBytes - total) return KV_MARK(tooLong);
    KV_RETURN_IF_FAILED(sink(chunk.data(), got));
    total += got;
  }
  if (hasLength && total != announced) return KV_MARK(WinHttpCode(ERROR_WINHTTP_CONNECTION_ERROR));
  return {};
}

void HttpClient::NoteRetryAfter(const std::wstring& value) {
  const std::optional<std::int64_t> moment = RetryAfterMoment(value, UtcNow());
  if (!moment) return;
  ExclusiveGuard guard(lock_);
  if (!askedNotBefore_ || *moment > *askedNotBefore_) askedNotBefore_ = moment;
}

std::optional<std::int64_t> HttpClient::AskedNotBefore() const {
  SharedGuard guard(lock_);
  return askedNotBefore_;
}

DWORD HttpClient::ProxyScheme() const {
  SharedGuard guard(lock_);
  return proxyScheme_;
}

ResultChain HttpClient::SetProxyCredentials(HINTERNET request, DWORD scheme, ProxyCredentials offered) const {
  const bool logon = offered == ProxyCredentials::kLogon;
  if (!::WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme,
                               logon ? nullptr : settings_.proxyUser.c_str(),
                               logon ? nullptr : settings_.proxyPass.c_str(), nullptr)) {
    return KV_MARK(WinHttpFailure(::GetLastError()));
  }
  return {};
}

DWORD HttpClient::AnswerProxyChallenge(HINTERNET request, ProxyCredentials offered) {
  // Offered once: a proxy that challenges again has refused the account.
  if (offered == ProxyCredentials::kNone || ProxyScheme() != 0) return 0;
  DWORD supported = 0, first = 0, target = 0;
  if (!::WinHttpQueryAuthSchemes(request, &supported, &first, &target)) return 0;
  // The service account's logon can only answer schemes that carry it; a stored
  // account answers whatever the proxy offers, strongest first.
  std::vector<DWORD> order = {WINHTTP_AUTH_SCHEME_NEGOTIATE, WINHTTP_AUTH_SCHEME_NTLM};
  if (offered == ProxyCredentials::kAccount) {
    order.push_back(WINHTTP_AUTH_SCHEME_DIGEST);
    order.push_back(WINHTTP_AUTH_SCHEME_BASIC);
  }
  for (DWORD scheme : order) {
    if ((supported & scheme) != 0) {
      ExclusiveGuard guard(lock_);
      proxyScheme_ = scheme;
      return scheme;
    }
  }
  return 0;
}

ResultChain HttpClient::Send(HINTERNET request, const std::wstring& headers, DWORD& status) {
  const wchar_t* extra = headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str();
  for (int attempt = 0;; ++attempt) {
    if (::WinHttpSendRequest(request, extra, headers.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA,
                             0, 0, 0) &&
        ::WinHttpReceiveResponse(request, nullptr)) {
      break;
    }
    const DWORD error = ::GetLastError();
    // A kept-alive connection that the server or proxy closed while it sat idle fails
    // the first request sent on it before any answer; a GET is sent once more.
    const bool staleConnection =
        error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE || error == ERROR_WINHTTP_CONNECTION_ERROR;
    if (!staleConnection || attempt > 0) return KV_MARK(WinHttpFailure(error));
  }
  status = 0;
  DWORD size = sizeof(status);
  if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return KV_MARK(WinHttpFailure(::GetLastError()));
  }
  return {};
}

ResultChain HttpClient::NameDeadline(const ResultChain& got) const {
  // A wait cut short by the deadline fails as a timeout; it is the deadline that ended it.
  if (got.Failed() && got.Last() == WinHttpCode(ERROR_WINHTTP_TIMEOUT) && deadline_.Remaining() == 0) {
    return KV_MARK(ResultChain(TransferDeadlineExceeded) + got);
  }
  return got;
}

ResultChain HttpClient::Get(const std::wstring& url, const Validators* conditional, std::uint64_t maxBytes,
                            ErrorCode tooLong, const BodySink& sink, HttpResponse& response) {
  return NameDeadline(Fetch(url, conditional, nullptr, maxBytes, tooLong, sink, response));
}

ResultChain HttpClient::GetRange(const std::wstring& url, const ByteRange& range, const BodySink& sink) {
  if (range.count == 0) return {};
  HttpResponse response;
  return NameDeadline(Fetch(url, nullptr, &range, range.count, FileSizeMismatch, sink, response));
}

ResultChain HttpClient::Fetch(const std::wstring& url, const Validators* conditional, const ByteRange* range,
                              std::uint64_t maxBytes, ErrorCode tooLong, const BodySink& sink,
                              HttpResponse& response) {
  response = HttpResponse{};
  if (!direct_.IsOpen()) return KV_MARK(err::HandleNotEnabled);
  const RequestHeaders headers = HeadersFor(conditional, range);
  std::wstring current = url;
  for (unsigned redirects = 0;;) {
    Exchange exchange;
    KV_RETURN_IF_FAILED(OpenExchange(current, exchange));
    DWORD status = 0;
    KV_RETURN_IF_FAILED(SendAnsweringProxy(exchange, headers.text, status));
    if (IsProxyRefusal(exchange.request.Get(), status, exchange.answered)) {
      return KV_MARK(HttpStatusCode(HTTP_STATUS_PROXY_AUTH_REQ));
    }
    if (IsRedirect(status)) {
      KV_RETURN_IF_FAILED(FollowRedirect(exchange, status, redirects, current));
      continue;
    }
    response.status = status;
    if (status == HTTP_STATUS_NOT_MODIFIED && conditional != nullptr) return {};
    if (status == kHttpTooManyRequests || status == HTTP_STATUS_SERVICE_UNAVAIL) {
      NoteRetryAfter(Header(exchange.request.Get(), WINHTTP_QUERY_RETRY_AFTER));
    }
    if (range != nullptr) {
      return ReceiveRange(exchange.request.Get(), status, headers.expectedRange, maxBytes, tooLong, sink);
    }
    return ReceiveWhole(exchange.request.Get(), status, maxBytes, tooLong, sink, response);
  }
}

ResultChain HttpClient::OpenExchange(const std::wstring& url, Exchange& exchange) {
  UrlParts& parts = exchange.parts;
  KV_RETURN_IF_FAILED(CrackUrl(url, parts));
  std::wstring proxy;
  ProxyOrigin origin = ProxyOrigin::kDirect;
  KV_RETURN_IF_FAILED(proxies_.Resolve(direct_.Get(), url, parts.secure, parts.host, proxy, origin));
  HINTERNET session = nullptr;
  KV_RETURN_IF_FAILED(SessionFor(proxy, session));
  exchange.connection.Reset(::WinHttpConnect(session, parts.host.c_str(), parts.port, 0));
  if (!exchange.connection.IsOpen()) return KV_MARK(WinHttpFailure(::GetLastError()));
  exchange.request.Reset(::WinHttpOpenRequest(exchange.connection.Get(), L"GET", parts.path.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              parts.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!exchange.request.IsOpen()) return KV_MARK(WinHttpFailure(::GetLastError()));
  KV_RETURN_IF_FAILED(SetRequestOptions(exchange.request.Get(), parts.secure));
  KV_RETURN_IF_FAILED(BoundTimeouts(exchange.request.Get(), true));
  exchange.viaProxy = !proxy.empty();
  exchange.offered = CredentialsFor(origin, settings_);
  const DWORD known = exchange.offered != ProxyCredentials::kNone ? ProxyScheme() : 0;
  if (known != 0) {
    KV_RETURN_IF_FAILED(SetProxyCredentials(exchange.request.Get(), known, exchange.offered));
  }
  exchange.answered = known != 0;
  return {};
}

ResultChain HttpClient::SetRequestOptions(HINTERNET request, bool secure) const {
  // Redirects are followed here, so that their number is bounded and none leaves
  // HTTPS. WinHTTP never logs on by itself: the service account's logon would go to
  // any server that asks for it, and is offered to a proxy only.
  KV_RETURN_IF_FAILED(SetHttpOption(request, WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS));
  KV_RETURN_IF_FAILED(SetHttpOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH));
  if (secure && settings_.checkRevocation) {
    KV_RETURN_IF_FAILED(SetHttpOption(request, WINHTTP_OPTION_ENABLE_FEATURE, WINHTTP_ENABLE_SSL_REVOCATION));
  }
  return {};
}

ResultChain HttpClient::SendAnsweringProxy(Exchange& exchange, const std::wstring& headers, DWORD& status) {
  const HINTERNET request = exchange.request.Get();
  for (;;) {
    KV_RETURN_IF_FAILED(Send(request, headers, status));
    // A 407 from a server reached directly is a server asking for the proxy account:
    // it is never answered.
    if (status != HTTP_STATUS_PROXY_AUTH_REQ || !exchange.viaProxy) return {};
    const DWORD scheme = AnswerProxyChallenge(request, exchange.offered);
    if (scheme == 0) return KV_MARK(HttpStatusCode(status));
    KV_RETURN_IF_FAILED(SetProxyCredentials(request, scheme, exchange.offered));
    exchange.answered = true;
  }
}

ResultChain HttpClient::FollowRedirect(const Exchange& exchange, DWORD status, unsigned& redirects,
                                       std::wstring& url) const {
  const std::wstring location = Header(exchange.request.Get(), WINHTTP_QUERY_LOCATION);
  if (location.empty() || ++redirects > settings_.maxRedirects) {
    return KV_MARK(ResultChain(WinHttpCode(ERROR_WINHTTP_REDIRECT_FAILED)) + HttpStatusCode(status));
  }
  const std::wstring next = ResolveLocation(exchange.parts, location);
  if (exchange.parts.secure && !StartsWithNoCase(next, L"https://")) {
    return KV_MARK(ResultChain(WinHttpCode(kHttpsToHttpOnRedirect)) + HttpStatusCode(status));
  }
  url = next;
  return {};
}

ResultChain HttpClient::ReceiveRange(HINTERNET request, DWORD status, const std::wstring& expectedRange,
                                     std::uint64_t maxBytes, ErrorCode tooLong, const BodySink& sink) const {
  // Only the very bytes asked for can be placed; anything else is fetched whole.
  if (status == HTTP_STATUS_OK || status == kHttpRangeNotSatisfiable ||
      (status == HTTP_STATUS_PARTIAL_CONTENT &&
       !EqualsNoCase(Header(request, WINHTTP_QUERY_CONTENT_RANGE), expectedRange))) {
    return KV_MARK(RangeNotServed);
  }
  if (status != HTTP_STATUS_PARTIAL_CONTENT) return KV_MARK(HttpStatusCode(status));
  KV_RETURN_IF_FAILED(ReadBody(request, maxBytes, tooLong, sink));
  return {};
}

ResultChain HttpClient::ReceiveWhole(HINTERNET request, DWORD status, std::uint64_t maxBytes, ErrorCode tooLong,
                                     const BodySink& sink, HttpResponse& response) const {
  if (status != HTTP_STATUS_OK) return KV_MARK(HttpStatusCode(status));
  response.validators.etag = SafeValidator(Header(request, WINHTTP_QUERY_ETAG));
  response.validators.lastModified = SafeValidator(Header(request, WINHTTP_QUERY_LAST_MODIFIED));
  KV_RETURN_IF_FAILED(ReadBody(request, maxBytes, tooLong, sink));
  return {};
}

}  // namespace kv::refengine
