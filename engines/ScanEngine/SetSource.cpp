#include "SetSource.h"

#include "HttpSource.h"
#include "ShareSource.h"
#include "config/IniText.h"
#include "defset/EngineCodes.h"
#include "foundation/ErrorCodes.h"

namespace kv::refengine {

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
