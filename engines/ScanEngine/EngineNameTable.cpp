#include "EngineNameTable.h"

#include "EngineCodes.h"
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
};

}  // namespace

const ErrorNameRow* EngineNameRows(std::size_t& count) {
  count = sizeof(kRows) / sizeof(kRows[0]);
  return kRows;
}

}  // namespace kv::refengine
