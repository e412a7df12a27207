#include "SetSource.h"

#include "EngineCodes.h"
#include "FileTransfer.h"
#include "HttpSource.h"
#include "ShareSource.h"
#include "config/IniDocument.h"
#include "config/IniText.h"
#include "foundation/ErrorCodes.h"
#include "foundation/TextEncoding.h"

namespace kv::refengine {

namespace {

constexpr wchar_t kOriginSection[] = L"Origin";

}  // namespace

SetOrigin ReadOrigin(const std::wstring& folder) {
  std::string bytes;
  IniDocument document;
  if (ReadWholeFile(folder + L"\\" + kOriginName, bytes).Failed() || document.ParseBytes(bytes).Failed()) return {};
  SetOrigin origin;
  origin.url = document.GetString(L"Url", {}, kOriginSection);
  origin.validators.etag = document.GetString(L"ETag", {}, kOriginSection);
  origin.validators.lastModified = document.GetString(L"LastModified", {}, kOriginSection);
  return origin;
}

std::string OriginBytes(const SetOrigin& origin) {
  IniDocument document;
  (void)document.SetString(L"Url", origin.url, kOriginSection);  // setters always succeed
  (void)document.SetString(L"ETag", origin.validators.etag, kOriginSection);
  (void)document.SetString(L"LastModified", origin.validators.lastModified, kOriginSection);
  std::string bytes = "\xEF\xBB\xBF";
  std::string text;
  (void)WideToNarrow(document.ToText(), CP_UTF8, 0, text);  // a lone surrogate: no origin, fetched afresh
  return bytes + text;
}

ResultChain OpenSource(const UpdateRequest& request, std::unique_ptr<SetSource>& source) {
  if (IniCompare(request.updateType, kUpdateTypeUnc)) {
    if (request.source.empty()) return KV_MARK(UpdateUncNotSet);
    // Whoever may write to the share, or change unsigned SMB traffic, would choose the
    // definitions of every machine.
    if (request.publicKey.empty() && !request.allowUnsignedShare) return KV_MARK(PublicKeyNotSet);
    source = std::make_unique<ShareSource>(request.source);
    return {};
  }
  if (!IniCompare(request.updateType, kUpdateTypeHttp)) return KV_MARK(err::NotSupportUpdateProtocol);
  if (request.http.url.empty()) return KV_MARK(UpdateUrlNotSet);
  std::wstring base;
  KV_RETURN_IF_FAILED(NormalizeBaseUrl(request.http.url, base));
  // Anyone between here and the server could change an unsigned set.
  if (request.publicKey.empty()) return KV_MARK(PublicKeyNotSet);
  auto web = std::make_unique<HttpSource>(base, request.http);
  KV_RETURN_IF_FAILED_AT(web->Open(), UpdateHttpIni);
  source = std::move(web);
  return {};
}

}  // namespace kv::refengine
