#include "EngineNameTable.h"

#include <windows.h>
#include <winhttp.h>

#include "HttpCodes.h"
#include "defset/EngineCodes.h"
#include "foundation/ErrorCodes.h"

namespace kv::refengine {

namespace {

// A built-in row that disagreed with the service's own name would make the service
// refuse the library, so these are copied letter for letter.
const ErrorNameRow kRows[] = {
    {err::AlreadyLastestDefinition, L"AlreadyLastestDefinition"},
    {err::BusyUncUpdating, L"BusyUncUpdating"},
    {err::UpdateUncIni, L"UpdateUncIni"},
    {err::UpdateUncFolder, L"UpdateUncFolder"},
    {err::ErrorSwapFilename, L"ErrorSwapFilename"},
    {err::ErrorUncHashCompare, L"ErrorUncHashCompare"},
    {err::NotSupportUpdateProtocol, L"NotSupportUpdateProtocol"},
    {err::UncIniNotFound, L"UncIniNotFound"},
    {err::UncIniInvalidFormat, L"UncIniInvalidFormat"},
    {err::UncFileNotFound, L"UncFileNotFound"},
    {UpdateHttpIni, L"UpdateHttpIni"},
    {UpdateHttpFolder, L"UpdateHttpFolder"},
    // WinHTTP's own errors beyond those WinINet shares, in the same family.
    {WininetErrorBase + ERROR_WINHTTP_SECURE_FAILURE, L"WININET_ERROR_WINHTTP_SECURE_FAILURE"},
    {WininetErrorBase + ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR, L"WININET_ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR"},
    {WininetErrorBase + ERROR_WINHTTP_AUTODETECTION_FAILED, L"WININET_ERROR_WINHTTP_AUTODETECTION_FAILED"},
    {WininetErrorBase + ERROR_WINHTTP_HEADER_COUNT_EXCEEDED, L"WININET_ERROR_WINHTTP_HEADER_COUNT_EXCEEDED"},
    {WininetErrorBase + ERROR_WINHTTP_HEADER_SIZE_OVERFLOW, L"WININET_ERROR_WINHTTP_HEADER_SIZE_OVERFLOW"},
    {WininetErrorBase + ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW, L"WININET_ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW"},
    // A status the service's table stops short of.
    {HttpStatusCode(kHttpTooManyRequests), L"HTTP_STATUS_429_TOO_MANY_REQUESTS"},

    {ReferenceEngineBase, L"ReferenceEngineBase"},
    {DefDatFolderNotSet, L"DefDatFolderNotSet"},
    {UpdateUncNotSet, L"UpdateUncNotSet"},
    {UncFolderNotFound, L"UncFolderNotFound"},
    {ManifestUnsafeName, L"ManifestUnsafeName"},
    {ManifestBadEntry, L"ManifestBadEntry"},
    {ManifestNoVersion, L"ManifestNoVersion"},
    {ManifestNoFiles, L"ManifestNoFiles"},
    {FileSizeMismatch, L"FileSizeMismatch"},
    {InvalidDefDatFolder, L"InvalidDefDatFolder"},
    {StepRecoverFolders, L"StepRecoverFolders"},
    {StepVerifyStagedSet, L"StepVerifyStagedSet"},
    {StepTakeUpdateLock, L"StepTakeUpdateLock"},
    {DefinitionsInUse, L"DefinitionsInUse"},
    {UpdateUrlNotSet, L"UpdateUrlNotSet"},
    {UpdateUrlInvalid, L"UpdateUrlInvalid"},
    {PublicKeyNotSet, L"PublicKeyNotSet"},
    {PublicKeyInvalid, L"PublicKeyInvalid"},
    {SignatureNotFound, L"SignatureNotFound"},
    {SignatureInvalid, L"SignatureInvalid"},
    {OlderDefinitionVersion, L"OlderDefinitionVersion"},
    {HighestVersionDamaged, L"HighestVersionDamaged"},
    {StepRecordHighestVersion, L"StepRecordHighestVersion"},
    {SetExpired, L"SetExpired"},
    {DefinitionsExpired, L"DefinitionsExpired"},
    {ManifestNoExpiry, L"ManifestNoExpiry"},
    {TransferDeadlineExceeded, L"TransferDeadlineExceeded"},
    {UpdateDeferred, L"UpdateDeferred"},
    {RangeNotServed, L"RangeNotServed"},
    {PackedObjectInvalid, L"PackedObjectInvalid"},
};

}  // namespace

const ErrorNameRow* EngineNameRows(std::size_t& count) {
  count = sizeof(kRows) / sizeof(kRows[0]);
  return kRows;
}

}  // namespace kv::refengine
