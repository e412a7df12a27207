#include "HttpClient.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "DefinitionManifest.h"
#include "EngineCodes.h"
#include "HttpCodes.h"
#include "HttpOption.h"
#include "ResultText.h"
#include "RetryAfter.h"
#include "foundation/ErrorCodes.h"
#include "foundation/TextEncoding.h"
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

struct UrlParts {
  bool secure = false;
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring path;  // path and query, as sent in the request line
};

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
  for (std::size_t i = 0; prefix[i] != L'\0'; ++i) {
    if (i >= text.size() || std::towlower(text[i]) != prefix[i]) return false;
  }
  return true;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

ResultChain CrackUrl(const std::wstring& url, UrlParts& parts) {
  URL_COMPONENTS components{};
  components.dwStructSize = sizeof(components);
  components.dwHostNameLength = static_cast<DWORD>(-1);
  components.dwUrlPathLength = static_cast<DWORD>(-1);
  components.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &components)) {
    return KV_MARK(ResultChain(UpdateUrlInvalid) + WinHttpFailure(::GetLastError()));
  }
  if (components.nScheme != INTERNET_SCHEME_HTTP && components.nScheme != INTERNET_SCHEME_HTTPS) {
    return KV_MARK(UpdateUrlInvalid);
  }
  if (components.dwHostNameLength == 0) return KV_MARK(UpdateUrlInvalid);
  parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
  parts.host.assign(components.lpszHostName, components.dwHostNameLength);
  parts.port = components.nPort;
  parts.path.assign(components.lpszUrlPath, components.dwUrlPathLength);
  if (components.lpszExtraInfo != nullptr) parts.path.append(components.lpszExtraInfo, components.dwExtraInfoLength);
  if (parts.path.empty()) parts.path = L"/";
  return {};
}

std::wstring Origin(const UrlParts& parts) {
  // An IPv6 address goes back into brackets.
  const bool literal = parts.host.find(L':') != std::wstring::npos && parts.host.front() != L'[';
  const std::wstring host = literal ? L"[" + parts.host + L"]" : parts.host;
  return (parts.secure ? L"https://" : L"http://") + host + L":" + std::to_wstring(parts.port);
}

// Where a Location header leads from `current`.
std::wstring ResolveLocation(const UrlParts& current, std::wstring location) {
  location = location.substr(0, location.find(L'#'));
  if (location.find(L"://") != std::wstring::npos) return location;
  if (location.rfind(L"//", 0) == 0) return (current.secure ? L"https:" : L"http:") + location;
  if (location.rfind(L"/", 0) == 0) return Origin(current) + location;
  const std::wstring path = current.path.substr(0, current.path.find(L'?'));
  return Origin(current) + path.substr(0, path.rfind(L'/') + 1) + location;
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

}  // namespace

ResultChain NormalizeBaseUrl(const std::wstring& url, std::wstring& base) {
  if (!StartsWithNoCase(url, L"http://") && !StartsWithNoCase(url, L"https://")) return KV_MARK(UpdateUrlInvalid);
  if (url.find_first_of(L"?#") != std::wstring::npos) return KV_MARK(UpdateUrlInvalid);
  // An account in the address would travel into every result text and log.
  const std::size_t authority = url.find(L"://") + 3;
  if (url.substr(authority, url.find(L'/', authority) - authority).find(L'@') != std::wstring::npos) {
    return KV_MARK(UpdateUrlInvalid);
  }
  UrlParts parts;
  KV_RETURN_IF_FAILED(CrackUrl(url, parts));
  base = url;
  if (base.back() != L'/') base += L'/';
  return {};
}

std::wstring FileUrl(const std::wstring& base, const std::wstring& name) {
  std::string utf8;
  (void)WideToNarrow(name, CP_UTF8, 0, utf8);  // names come from UTF-8 text: always converts
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring url = base;
  for (unsigned char c : utf8) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                            c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      url += static_cast<wchar_t>(c);
    } else {
      url += L'%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

DWORD TransferDeadline::Remaining() const {
  const ULONGLONG now = ::GetTickCount64();
  return now >= end_ ? 0 : static_cast<DWORD>(end_ - now);
}

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
  if (!direct_) return KV_MARK(WinHttpFailure(::GetLastError()));
  KV_RETURN_IF_FAILED(ConfigureSession(direct_.Get()));
  proxies_.Open();
  return {};
}

ResultChain HttpClient::SessionFor(const std::wstring& proxy, HINTERNET& session) {
  session = direct_.Get();
  if (proxy.empty()) return {};
  ::AcquireSRWLockExclusive(&sessionsLock_);
  ResultChain result;
  const auto known = std::find_if(proxied_.begin(), proxied_.end(), [&](const auto& p) { return p.first == proxy; });
  if (known != proxied_.end()) {
    session = known->second->Get();
  } else {
    auto opened = std::make_unique<InternetHandle>(::WinHttpOpen(
        kUserAgent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, 0));
    if (!*opened) {
      result = KV_MARK(ResultChain(InvalidProxyServer) + WinHttpFailure(::GetLastError()));
    } else if (const ResultChain configured = ConfigureSession(opened->Get()); configured.Failed()) {
      result = KV_MARK(configured);
    } else {
      session = opened->Get();
      proxied_.emplace_back(proxy, std::move(opened));
    }
  }
  ::ReleaseSRWLockExclusive(&sessionsLock_);
  return result;
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
  ::AcquireSRWLockExclusive(&lock_);
  if (!askedNotBefore_ || *moment > *askedNotBefore_) askedNotBefore_ = moment;
  ::ReleaseSRWLockExclusive(&lock_);
}

std::optional<std::int64_t> HttpClient::AskedNotBefore() const {
  ::AcquireSRWLockShared(&lock_);
  const std::optional<std::int64_t> moment = askedNotBefore_;
  ::ReleaseSRWLockShared(&lock_);
  return moment;
}

DWORD HttpClient::ProxyScheme() const {
  ::AcquireSRWLockShared(&lock_);
  const DWORD scheme = proxyScheme_;
  ::ReleaseSRWLockShared(&lock_);
  return scheme;
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
      ::AcquireSRWLockExclusive(&lock_);
      proxyScheme_ = scheme;
      ::ReleaseSRWLockExclusive(&lock_);
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
  if (!direct_) return KV_MARK(err::HandleNotEnabled);
  std::wstring headers;
  std::wstring expectedRange;
  if (range != nullptr) {
    const auto last = static_cast<unsigned long long>(range->first + range->count - 1);
    headers += FormatText(L"Range: bytes=%llu-%llu\r\n", static_cast<unsigned long long>(range->first), last);
    expectedRange = FormatText(L"bytes %llu-%llu/%llu", static_cast<unsigned long long>(range->first), last,
                               static_cast<unsigned long long>(range->total));
  }
  if (conditional != nullptr) {
    if (const std::wstring etag = SafeValidator(conditional->etag); !etag.empty()) {
      headers += L"If-None-Match: " + etag + L"\r\n";
    }
    if (const std::wstring since = SafeValidator(conditional->lastModified); !since.empty()) {
      headers += L"If-Modified-Since: " + since + L"\r\n";
    }
  }

  std::wstring current = url;
  for (unsigned redirects = 0;;) {
    UrlParts parts;
    KV_RETURN_IF_FAILED(CrackUrl(current, parts));
    std::wstring proxy;
    ProxyOrigin origin = ProxyOrigin::kDirect;
    KV_RETURN_IF_FAILED(proxies_.Resolve(direct_.Get(), current, parts.secure, parts.host, proxy, origin));
    HINTERNET session = nullptr;
    KV_RETURN_IF_FAILED(SessionFor(proxy, session));
    const InternetHandle connection(::WinHttpConnect(session, parts.host.c_str(), parts.port, 0));
    if (!connection) return KV_MARK(WinHttpFailure(::GetLastError()));
    const InternetHandle request(::WinHttpOpenRequest(connection.Get(), L"GET", parts.path.c_str(), nullptr,
                                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                      parts.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return KV_MARK(WinHttpFailure(::GetLastError()));
    // Redirects are followed here, so that their number is bounded and none leaves
    // HTTPS. WinHTTP never logs on by itself: the service account's logon would go to
    // any server that asks for it, and is offered to a proxy below only.
    KV_RETURN_IF_FAILED(SetHttpOption(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS));
    KV_RETURN_IF_FAILED(
        SetHttpOption(request.Get(), WINHTTP_OPTION_AUTOLOGON_POLICY, WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH));
    if (parts.secure && settings_.checkRevocation) {
      KV_RETURN_IF_FAILED(SetHttpOption(request.Get(), WINHTTP_OPTION_ENABLE_FEATURE, WINHTTP_ENABLE_SSL_REVOCATION));
    }
    KV_RETURN_IF_FAILED(BoundTimeouts(request.Get(), true));
    const bool viaProxy = !proxy.empty();
    const ProxyCredentials offered = CredentialsFor(origin, settings_);
    const DWORD known = offered != ProxyCredentials::kNone ? ProxyScheme() : 0;
    if (known != 0) {
      KV_RETURN_IF_FAILED(SetProxyCredentials(request.Get(), known, offered));
    }

    DWORD status = 0;
    bool answered = known != 0;
    for (;;) {
      KV_RETURN_IF_FAILED(Send(request.Get(), headers, status));
      // A 407 from a server reached directly is a server asking for the proxy account:
      // it is never answered.
      if (status != HTTP_STATUS_PROXY_AUTH_REQ || !viaProxy) break;
      const DWORD scheme = AnswerProxyChallenge(request.Get(), offered);
      if (scheme == 0) return KV_MARK(HttpStatusCode(status));
      KV_RETURN_IF_FAILED(SetProxyCredentials(request.Get(), scheme, offered));
      answered = true;
    }
    // Some proxies (tinyproxy among them) refuse offered credentials with a 401 of
    // their own rather than a second 407. A 401 that no proxy passed on ("Via") after
    // the proxy was answered is that refusal. Any other 401 fails with its status: no
    // server is ever answered.
    if (status == HTTP_STATUS_DENIED && answered && Header(request.Get(), WINHTTP_QUERY_VIA).empty()) {
      return KV_MARK(HttpStatusCode(HTTP_STATUS_PROXY_AUTH_REQ));
    }

    if (IsRedirect(status)) {
      const std::wstring location = Header(request.Get(), WINHTTP_QUERY_LOCATION);
      if (location.empty() || ++redirects > settings_.maxRedirects) {
        return KV_MARK(ResultChain(WinHttpCode(ERROR_WINHTTP_REDIRECT_FAILED)) + HttpStatusCode(status));
      }
      const std::wstring next = ResolveLocation(parts, location);
      if (parts.secure && !StartsWithNoCase(next, L"https://")) {
        return KV_MARK(ResultChain(WinHttpCode(kHttpsToHttpOnRedirect)) + HttpStatusCode(status));
      }
      current = next;
      continue;
    }
    response.status = status;
    if (status == HTTP_STATUS_NOT_MODIFIED && conditional != nullptr) return {};
    if (status == kHttpTooManyRequests || status == HTTP_STATUS_SERVICE_UNAVAIL) {
      NoteRetryAfter(Header(request.Get(), WINHTTP_QUERY_RETRY_AFTER));
    }
    if (range != nullptr) {
      // Only the very bytes asked for can be placed; anything else is fetched whole.
      if (status == HTTP_STATUS_OK || status == kHttpRangeNotSatisfiable ||
          (status == HTTP_STATUS_PARTIAL_CONTENT &&
           !EqualsNoCase(Header(request.Get(), WINHTTP_QUERY_CONTENT_RANGE), expectedRange))) {
        return KV_MARK(RangeNotServed);
      }
      if (status != HTTP_STATUS_PARTIAL_CONTENT) return KV_MARK(HttpStatusCode(status));
      KV_RETURN_IF_FAILED(ReadBody(request.Get(), maxBytes, tooLong, sink));
      return {};
    }
    if (status != HTTP_STATUS_OK) return KV_MARK(HttpStatusCode(status));
    response.validators.etag = SafeValidator(Header(request.Get(), WINHTTP_QUERY_ETAG));
    response.validators.lastModified = SafeValidator(Header(request.Get(), WINHTTP_QUERY_LAST_MODIFIED));
    KV_RETURN_IF_FAILED(ReadBody(request.Get(), maxBytes, tooLong, sink));
    return {};
  }
}

}  // namespace kv::refengine
