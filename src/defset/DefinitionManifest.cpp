#include "defset/DefinitionManifest.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

#include "config/IniDocument.h"
#include "defset/EngineCodes.h"
#include "defset/FileTransfer.h"
#include "foundation/ErrorCodes.h"
#include "foundation/HexDigits.h"

namespace kv::refengine {

namespace {

constexpr std::size_t kMaxNameLength = 200;

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Device names open the device, not a file, whatever extension follows them; spaces
// between the name and the extension ("CON .txt") are dropped by some Windows versions
// as well, so they are refused too.
bool IsDeviceName(std::wstring_view name) {
  std::wstring stem(name.substr(0, name.find(L'.')));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  for (wchar_t& c : stem) c = static_cast<wchar_t>(std::towupper(c));
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (stem == device) return true;
  }
  // Windows counts the superscript digits 1, 2 and 3 as digits of COM and LPT names too.
  return stem.size() == 4 && (stem.rfind(L"COM", 0) == 0 || stem.rfind(L"LPT", 0) == 0) &&
         std::wstring_view(L"0123456789\x00B9\x00B2\x00B3").find(stem[3]) != std::wstring_view::npos;
}

bool IsNumber(std::wstring_view part) {
  return !part.empty() && part.find_first_not_of(L"0123456789") == std::wstring_view::npos;
}

// Numbers of any length, without converting them: leading zeros go, then the longer
// number is the larger, and numbers of one length compare digit by digit.
int CompareNumbers(std::wstring_view a, std::wstring_view b) {
  a.remove_prefix(std::min(a.find_first_not_of(L'0'), a.size()));
  b.remove_prefix(std::min(b.find_first_not_of(L'0'), b.size()));
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

int CompareParts(std::wstring_view a, std::wstring_view b) {
  if (IsNumber(a) && IsNumber(b)) return CompareNumbers(a, b);
  // Ordinal without case, as file names compare: the same answer on every machine
  // whatever its language.
  const int order = ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                           static_cast<int>(b.size()), TRUE);
  return order - CSTR_EQUAL;
}

ResultChain BadFormat(ErrorCode detail) { return ResultChain(detail) + err::UncIniInvalidFormat; }

// "<size>,<sha256>" of an object that exists: a size of at least one byte.
bool ParseObject(std::wstring_view value, PackedObject& object) {
  const std::size_t comma = value.find(L',');
  return comma != std::wstring_view::npos && ParseSize(value.substr(0, comma), object.size) && object.size != 0 &&
         ParseDigest(value.substr(comma + 1), object.digest);
}

}  // namespace

bool ParseSize(std::wstring_view text, std::uint64_t& size) {
  if (text.empty() || text.size() > 19) return false;
  size = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    size = size * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  return true;
}

bool IsPlainFileName(std::wstring_view name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  if (name == L"." || name == L"..") return false;
  // Windows drops trailing dots and spaces, so such a name would alias another file;
  // a leading space is almost always a typing slip in the manifest.
  if (name.back() == L'.' || name.back() == L' ' || name.front() == L' ') return false;
  for (wchar_t c : name) {
    if (c < 0x20 || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) return false;
  }
  if (IsDeviceName(name)) return false;
  // The manifest, its signature and the origin are installed under their own names.
  std::wstring lower(name);
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  return lower != kManifestName && lower != kSignatureName && lower != kOriginName && lower != kIndexFolderName &&
         lower != kCompressedFolderName && lower != kPatchFolderName;
}

std::wstring PatchName(const Digest256& source, const Digest256& target) {
  return DigestHex(source) + L"." + DigestHex(target);
}

bool ParseDigest(std::wstring_view hex, Digest256& digest) {
  if (hex.size() != digest.size() * 2) return false;
  for (std::size_t i = 0; i < digest.size(); ++i) {
    const int high = HexValue(hex[2 * i]);
    const int low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    digest[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return true;
}

std::wstring DigestHex(const Digest256& digest) {
  std::wstring hex;
  for (const std::uint8_t byte : digest) {
    hex += LowerHexDigit(byte >> 4);
    hex += LowerHexDigit(byte & 15);
  }
  return hex;
}

int CompareVersions(std::wstring_view a, std::wstring_view b) {
  constexpr std::wstring_view kSeparators = L".-";
  for (;;) {
    const std::size_t aEnd = std::min(a.find_first_of(kSeparators), a.size());
    const std::size_t bEnd = std::min(b.find_first_of(kSeparators), b.size());
    if (const int order = CompareParts(a.substr(0, aEnd), b.substr(0, bEnd)); order != 0) return order;
    const bool aMore = aEnd < a.size();
    const bool bMore = bEnd < b.size();
    if (!aMore || !bMore) return aMore == bMore ? 0 : (aMore ? 1 : -1);
    a.remove_prefix(aEnd + 1);
    b.remove_prefix(bEnd + 1);
  }
}

bool Expired(const DefinitionManifest& manifest, std::int64_t now) {
  return manifest.expires && *manifest.expires <= now;
}

ResultChain ParseManifest(std::string_view bytes, DefinitionManifest& manifest) {
  manifest = DefinitionManifest{};
  IniDocument document;
  if (const ResultChain parsed = document.ParseBytes(bytes); parsed.Failed()) {
    return KV_MARK(ResultChain(err::UncIniInvalidFormat) + parsed);
  }
  manifest.version = document.GetString(L"Version", {}, L"DefinitionSet");
  manifest.date = document.GetString(L"Date", {}, L"DefinitionSet");
  if (manifest.version.empty()) return KV_MARK(BadFormat(ManifestNoVersion));
  if (const std::wstring expires = document.GetString(L"Expires", {}, L"DefinitionSet"); !expires.empty()) {
    manifest.expires = ParseUtcMoment(expires);
    if (!manifest.expires) return KV_MARK(BadFormat(ManifestBadEntry));
  }

  for (const IniSection& section : document.Sections()) {
    if (!IniCompare(section.Name(), L"Files")) continue;
    for (const auto& [name, value] : section.GetEntries()) {
      if (!IsPlainFileName(name)) return KV_MARK(BadFormat(ManifestUnsafeName));
      const std::size_t comma = value.find(L',');
      ManifestFile file;
      file.name = name;
      if (comma == std::wstring::npos || !ParseSize(std::wstring_view(value).substr(0, comma), file.size) ||
          !ParseDigest(std::wstring_view(value).substr(comma + 1), file.digest)) {
        return KV_MARK(BadFormat(ManifestBadEntry));
      }
      manifest.files.push_back(std::move(file));
    }
  }
  if (manifest.files.empty()) return KV_MARK(BadFormat(ManifestNoFiles));
  // The sections beside "Files" name objects of listed files; anything else in them is a
  // damaged manifest, refused as a bad [Files] line is.
  for (const IniSection& section : document.Sections()) {
    const bool index = IniCompare(section.Name(), L"Indexes");
    const bool compressed = IniCompare(section.Name(), L"Compressed");
    const bool patches = IniCompare(section.Name(), L"Patches");
    if (!index && !compressed && !patches) continue;
    for (const auto& [key, value] : section.GetEntries()) {
      // A patch's key is "<name>,<digest of the file it starts from>".
      std::wstring_view name = key;
      Digest256 source{};
      if (patches) {
        const std::size_t comma = name.rfind(L',');
        if (comma == std::wstring_view::npos || !ParseDigest(name.substr(comma + 1), source)) {
          return KV_MARK(BadFormat(ManifestBadEntry));
        }
        name = name.substr(0, comma);
      }
      const auto file = std::find_if(manifest.files.begin(), manifest.files.end(),
                                     [&](const ManifestFile& f) { return IniCompare(f.name, name); });
      PackedObject object;
      if (file == manifest.files.end() || !ParseObject(value, object)) return KV_MARK(BadFormat(ManifestBadEntry));
      if (index) {
        file->indexSize = object.size;
        file->indexDigest = object.digest;
      } else if (compressed) {
        file->compressed = object;
      } else {
        file->patches.push_back({source, object});
      }
    }
  }
  return {};
}

ResultChain LoadManifest(const std::wstring& folder, std::string& bytes, DefinitionManifest& manifest) {
  bytes.clear();
  if (const ResultChain read = ReadWholeFile(folder + L"\\" + kManifestName, bytes); read.Failed()) {
    return KV_MARK(ResultChain(err::UncIniNotFound) + read);
  }
  KV_RETURN_IF_FAILED(ParseManifest(bytes, manifest));
  return {};
}

}  // namespace kv::refengine
