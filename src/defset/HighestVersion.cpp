#include "defset/HighestVersion.h"

#include "config/IniDocument.h"
#include "defset/EngineCodes.h"
#include "defset/FileTransfer.h"

namespace kv::refengine {

namespace {

constexpr wchar_t kSection[] = L"HighestVersion";

}  // namespace

HighestVersion ReadHighestVersion(const std::wstring& path) {
  HighestVersion highest;
  if (!PathExists(path)) return highest;
  highest.state = HighestVersion::State::kDamaged;
  std::string bytes;
  IniDocument document;
  if (ReadWholeFile(path, bytes).Failed() || document.ParseBytes(bytes).Failed()) return highest;
  highest.version = document.GetString(L"Version", {}, kSection);
  if (!highest.version.empty()) highest.state = HighestVersion::State::kKnown;
  return highest;
}

ResultChain RecordHighestVersion(const std::wstring& path, const std::wstring& version) {
  IniDocument document;
  (void)document.SetString(L"Version", version, kSection);  // always succeeds
  KV_RETURN_IF_FAILED(ReplaceWithUtf8Text(path, document.ToText()));
  return {};
}

ResultChain VersionFloor(const HighestVersion& recorded, const DefinitionManifest* installed, std::wstring& floor) {
  floor.clear();
  if (recorded.state == HighestVersion::State::kKnown) floor = recorded.version;
  if (installed != nullptr && !installed->version.empty() &&
      (floor.empty() || CompareVersions(installed->version, floor) > 0)) {
    floor = installed->version;
  }
  if (floor.empty() && recorded.state == HighestVersion::State::kDamaged) return KV_MARK(HighestVersionDamaged);
  return {};
}

}  // namespace kv::refengine
