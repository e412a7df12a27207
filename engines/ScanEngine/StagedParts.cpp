#include "StagedParts.h"

#include <windows.h>

#include <string>

#include "defset/DefinitionManifest.h"
#include "defset/FileTransfer.h"
#include "defset/SetIdentity.h"
#include "foundation/FileSystem.h"
#include "foundation/FolderEnumeration.h"
#include "foundation/OwnFiles.h"

namespace kv::refengine {

namespace {

void KeepPartialFile(const std::wstring& target, const std::wstring& folder, const std::wstring& name) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(LongPathForm(target).c_str(), GetFileExInfoStandard, &data) ||
      (data.nFileSizeHigh == 0 && data.nFileSizeLow == 0)) {
    return;
  }
  (void)CreateOwnFolder(folder, Readers::Nobody);
  ::MoveFileExW(LongPathForm(target).c_str(), LongPathForm(folder + L"\\" + name).c_str(),
                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

}  // namespace

void KeepStagedParts(const DefinitionFolders& folders) {
  if (!FolderExists(folders.staging)) return;
  FolderEnumeration listing;
  if (listing.Start(folders.staging, 0).Failed()) return;
  while (!listing.Next().Failed()) {
    const std::wstring& name = listing.Name();
    if (listing.IsFolder() || listing.Size() == 0 || !IsPlainFileName(name)) continue;
    FileIdentity staged;
    if (IdentityOfFile(listing.FullPath(), staged).Failed()) continue;
    const auto linked = [&](const std::wstring& folder) {
      FileIdentity installed;
      return !IdentityOfFile(folder + L"\\" + name, installed).Failed() && installed.volume == staged.volume &&
             installed.index == staged.index;
    };
    if (!linked(folders.current) && !linked(folders.backup)) KeepPartialFile(listing.FullPath(), folders.partial, name);
  }
}

}  // namespace kv::refengine
