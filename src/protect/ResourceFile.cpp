#include "protect/ResourceFile.h"

#include <windows.h>

#include <cwctype>

#include "foundation/ErrorCodes.h"
#include "foundation/PathName.h"
#include "foundation/TextEncoding.h"
#include "foundation/TextFormat.h"
#include "protect/BuildSecret.h"
#include "protect/DataModule.h"
#include "protect/ProtectedContainer.h"
#include "protect/Sha256.h"
#include "foundation/FileSystem.h"

namespace kv {

namespace {

constexpr std::size_t kMaxNameLength = 63;

// GetLastError() as a chain; a call that failed without setting it still fails.
ResultChain SystemFailure(ErrorCode fallback) {
  ResultChain chain = LastErrorChain();
  return chain.Failed() ? chain : ResultChain(fallback);
}

BOOL CALLBACK NoteResourceType(HMODULE, LPWSTR, LONG_PTR found) {
  *reinterpret_cast<bool*>(found) = true;
  return TRUE;
}

// Upper case, then only letters, digits, white space, "." and "#".
ResultChain NormaliseName(const std::wstring& name, std::wstring& upper) {
  if (name.empty() || name.size() > kMaxNameLength) return KV_MARK(err::InvalidKey);
  // The C runtime's case and class tables rather than the window library's: the
  // service would otherwise load that library, and its cost, for this check alone.
  upper = name;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  for (const wchar_t c : upper) {
    const bool allowed = std::iswalnum(c) || std::iswspace(c) || c == L'.' || c == L'#';
    if (!allowed) return KV_MARK(err::InvalidKey);
  }
  return {};
}

std::wstring FullPathOf(const std::wstring& path) {
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD written = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (written == 0 || written >= needed) return path;
  full.resize(written);
  return full;
}

}  // namespace

std::wstring ResourceName(int number) { return FormatText(L"#%d", number); }

ResultChain ResourceFile::Open(const std::wstring& modulePath) {
  const std::wstring path = modulePath.empty() ? kv::ModulePath() : modulePath;
  if (path.empty()) return KV_MARK(err::HandleNotEnabled);

  const DataModule module = LoadDataModule(path);
  if (!module.IsOpen()) return KV_MARK(SystemFailure(err::HandleNotEnabled));
  bool hasResources = false;
  if (!::EnumResourceTypesW(module.Get(), NoteResourceType, reinterpret_cast<LONG_PTR>(&hasResources)) ||
      !hasResources) {
    return KV_MARK(SystemFailure(ERROR_RESOURCE_DATA_NOT_FOUND));
  }
  modulePath_ = FullPathOf(path);
  return {};
}

ResultChain ResourceFile::CheckModuleFile() const {
  if (modulePath_.empty()) return KV_MARK(err::HandleNotEnabled);
  if (::GetFileAttributesW(LongPathForm(modulePath_).c_str()) == INVALID_FILE_ATTRIBUTES) {
    return KV_MARK(err::FileNotFound);
  }
  return {};
}

ResultChain ResourceFile::Read(const std::wstring& name, unsigned short language,
                               std::vector<std::uint8_t>& bytes) const {
  bytes.clear();
  KV_RETURN_IF_FAILED(CheckModuleFile());
  std::wstring upperName;
  KV_RETURN_IF_FAILED(NormaliseName(name, upperName));

  const DataModule module = LoadDataModule(modulePath_);
  if (!module.IsOpen()) return KV_MARK(err::HandleNotEnabled);
  HRSRC found = ::FindResourceExW(module.Get(), type_.c_str(), upperName.c_str(), language);
  if (found == nullptr) return KV_MARK(SystemFailure(ERROR_RESOURCE_NAME_NOT_FOUND));
  HGLOBAL loaded = ::LoadResource(module.Get(), found);
  if (loaded == nullptr) return KV_MARK(SystemFailure(ERROR_RESOURCE_FAILED));
  const DWORD size = ::SizeofResource(module.Get(), found);
  if (size == 0) return KV_MARK(SystemFailure(ERROR_RESOURCE_FAILED));
  const void* data = ::LockResource(loaded);
  if (data == nullptr) return KV_MARK(SystemFailure(ERROR_RESOURCE_FAILED));

  const auto* first = static_cast<const std::uint8_t*>(data);
  bytes.assign(first, first + size);
  return {};
}

ResultChain ResourceFile::ProtectedRead(int number, std::vector<std::uint8_t>& payload) const {
  payload.clear();
  KV_RETURN_IF_FAILED(CheckModuleFile());

  std::vector<std::uint8_t> data;
  KV_RETURN_IF_FAILED(Read(ResourceName(number), LANG_NEUTRAL, data));

  std::vector<std::uint8_t> material;
  KV_RETURN_IF_FAILED(Read(ResourceName(kKeyMaterialResource), LANG_NEUTRAL, material));
  Digest256 buildKey;
  if (!ResourceOneKey(buildKey)) return KV_MARK(err::NotSetPassword);
  ProtectedContainer keyContainer;
  KV_RETURN_IF_FAILED(keyContainer.SetKey(buildKey.data(), buildKey.size()));
  KV_RETURN_IF_FAILED(keyContainer.Open(material));

  const Digest256 key = Sha256::Of(material.data(), material.size());
  ProtectedContainer container;
  KV_RETURN_IF_FAILED(container.SetKey(key.data(), key.size()));
  KV_RETURN_IF_FAILED(container.Open(data));
  payload = std::move(data);
  return {};
}

std::wstring ResourceFile::ProtectedText(int number) const {
  std::vector<std::uint8_t> payload;
  if (ProtectedRead(number, payload).Failed()) return {};
  std::wstring text;
  if (DecodeText(payload.data(), payload.size(), text).Failed()) return {};
  return text;
}

}  // namespace kv
