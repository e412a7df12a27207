#include "defset/SetIdentity.h"

#include <algorithm>

#include "config/IniDocument.h"
#include "config/IniText.h"
#include "defset/EngineCodes.h"
#include "defset/FileTransfer.h"
#include "defset/ParallelWork.h"
#include "foundation/FileSystem.h"
#include "kernel/HandleHolder.h"

namespace kv::refengine {

namespace {

constexpr wchar_t kSection[] = L"SetIdentities";
constexpr wchar_t kFilesSection[] = L"Files";
constexpr std::uint64_t kTicksPerDay = 864000000000ULL;

std::uint64_t Join(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

std::wstring IdentityText(const FileIdentity& id) {
  return std::to_wstring(id.size) + L"," + std::to_wstring(id.lastWrite) + L"," + std::to_wstring(id.volume) + L"," +
         std::to_wstring(id.index);
}

// Four decimal numbers separated by commas; false for anything else.
bool ParseIdentity(std::wstring_view text, FileIdentity& id) {
  std::uint64_t parts[4] = {};
  for (std::uint64_t& part : parts) {
    const std::size_t comma = std::min(text.find(L','), text.size());
    if (!ParseSize(text.substr(0, comma), part)) return false;
    text.remove_prefix(std::min(comma + 1, text.size()));
  }
  if (!text.empty() || parts[2] > 0xFFFFFFFFULL) return false;
  id = {parts[0], parts[1], static_cast<std::uint32_t>(parts[2]), parts[3]};
  return true;
}

// The last full hash is recent enough to trust identities (a clock set back counts as
// old: nothing then says how long ago it was).
bool HashIsRecent(std::uint64_t hashedAt, std::uint64_t now, unsigned fullVerifyDays) {
  return fullVerifyDays != 0 && hashedAt != 0 && hashedAt <= now &&
         now - hashedAt < static_cast<std::uint64_t>(fullVerifyDays) * kTicksPerDay;
}

}  // namespace

std::uint64_t IdentityClock() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return Join(now.dwHighDateTime, now.dwLowDateTime);
}

ResultChain IdentityOfFile(const std::wstring& path, FileIdentity& identity, DWORD* attributes) {
  // Attributes only: the content is not opened, and nothing is ever written.
  HANDLE h = ::CreateFileW(LongPathForm(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           /*hTemplateFile=*/nullptr);
  if (h == INVALID_HANDLE_VALUE) return KV_MARK(LastErrorChain());
  HandleHolder file(INVALID_HANDLE_VALUE);
  (void)file.Attach(h);  // a valid handle is always taken
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.Get(), &info)) return KV_MARK(LastErrorChain());
  identity.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
  identity.lastWrite = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
  identity.volume = info.dwVolumeSerialNumber;
  identity.index = Join(info.nFileIndexHigh, info.nFileIndexLow);
  if (attributes != nullptr) *attributes = info.dwFileAttributes;
  return {};
}

SetIdentities ReadSetIdentities(const std::wstring& path) {
  SetIdentities record;
  std::string bytes;
  IniDocument document;
  if (!PathExists(path) || ReadWholeFile(path, bytes).Failed() || document.ParseBytes(bytes).Failed()) return {};
  std::uint64_t hashedAt = 0;
  if (!ParseDigest(document.GetString(L"Manifest", {}, kSection), record.manifest) ||
      !ParseSize(document.GetString(L"HashedAt", {}, kSection), hashedAt)) {
    return {};
  }
  record.hashedAt = hashedAt;
  for (const IniSection& section : document.Sections()) {
    if (!IniCompare(section.Name(), kFilesSection)) continue;
    for (const auto& [name, value] : section.GetEntries()) {
      FileIdentity id;
      if (ParseIdentity(value, id)) record.files.emplace_back(name, id);
    }
  }
  return record;
}

ResultChain RecordSetIdentities(const std::wstring& path, const SetIdentities& identities) {
  IniDocument document;
  // IniDocument's setters always succeed.
  (void)document.SetString(L"Manifest", DigestHex(identities.manifest), kSection);
  (void)document.SetString(L"HashedAt", std::to_wstring(identities.hashedAt), kSection);
  for (const auto& [name, id] : identities.files) (void)document.SetString(name, IdentityText(id), kFilesSection);
  KV_RETURN_IF_FAILED(ReplaceWithUtf8Text(path, document.ToText()));
  return {};
}

InstalledCheck CheckInstalledSet(const std::wstring& folder, const DefinitionManifest& manifest,
                                 const std::string& manifestBytes, const std::wstring& recordPath,
                                 unsigned fullVerifyDays) {
  const std::uint64_t now = IdentityClock();
  const Digest256 manifestDigest = Sha256::Of(manifestBytes.data(), manifestBytes.size());
  const SetIdentities record = ReadSetIdentities(recordPath);
  const bool full = record.manifest != manifestDigest || !HashIsRecent(record.hashedAt, now, fullVerifyDays);
  const std::size_t count = manifest.files.size();
  InstalledCheck check;
  check.confirmed.assign(count, 0);
  check.identities.assign(count, FileIdentity{});
  std::vector<char> hashed(count, 0);
  // The work never fails; an item it did not reach stays unconfirmed.
  (void)ForEachInParallel(count, kParallelChecks, [&](std::size_t i) -> ResultChain {
    const ManifestFile& file = manifest.files[i];
    const std::wstring path = folder + L"\\" + file.name;
    // Taken before any hashing: a write that lands during the hash changes the
    // last-write time after it, so the next check hashes the file again.
    FileIdentity& id = check.identities[i];
    if (IdentityOfFile(path, id).Failed() || id.size != file.size) return {};
    if (!full) {
      for (const auto& [name, known] : record.files) {
        if (known == id && IniCompare(name, file.name)) {
          check.confirmed[i] = 1;
          return {};
        }
      }
    }
    hashed[i] = 1;
    std::uint64_t size = 0;
    Digest256 digest{};
    if (DigestOfFile(path, size, digest).Failed() || size != file.size || digest != file.digest) return {};
    check.confirmed[i] = 1;
    return {};
  });
  check.intact = std::all_of(check.confirmed.begin(), check.confirmed.end(), [](char c) { return c != 0; });
  check.hashedAt = full ? now : record.hashedAt;
  if (check.intact && (full || std::any_of(hashed.begin(), hashed.end(), [](char c) { return c != 0; }))) {
    SetIdentities updated{manifestDigest, check.hashedAt, {}};
    for (std::size_t i = 0; i < count; ++i) updated.files.emplace_back(manifest.files[i].name, check.identities[i]);
    (void)RecordSetIdentities(recordPath, updated);  // without it the next check hashes again
  }
  return check;
}

}  // namespace kv::refengine
