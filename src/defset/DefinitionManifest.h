// The manifest of a definition set: "defset.ini" in the set's folder.
//
//   [DefinitionSet]
//   Version=2026.12.08.1
//   Date=2026-12-08
//   Expires=2026-12-15T06:00:00Z          (optional; kvtool sign --expires-days)
//   [Files]
//   virus.def=1048576,<64 hex digits of the file's SHA-256>
//   [Indexes]
//   virus.def=<size>,<SHA-256 of the file's chunk index, "defset.chunks\virus.def">
//   [Compressed]
//   virus.def=<size>,<SHA-256 of the file's zstd frame, "defset.z\virus.def">
//   [Patches]
//   virus.def,<SHA-256 of an earlier virus.def>=<size>,<SHA-256 of the patch from it,
//       "defset.patches\<earlier SHA-256>.<SHA-256 of virus.def>">
//
// Every listed name is a plain file name: a manifest read from a share decides which
// files are written into the destination, so a name that could reach outside it (path
// separators, "..", drive letters, stream colons, device names) refuses the whole set.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/ResultChain.h"
#include "foundation/UtcMoment.h"
#include "protect/Sha256.h"

namespace kv::refengine {

inline constexpr wchar_t kManifestName[] = L"defset.ini";
// Installed beside the listed files: the manifest's signature, and where a set from a
// web server came from. No listed file may take these names either.
inline constexpr wchar_t kSignatureName[] = L"defset.sig";
inline constexpr wchar_t kOriginName[] = L"defset.origin";
// The folder of the published set that holds the files' chunk indexes (ChunkIndex.h),
// each under its file's name. Never installed.
inline constexpr wchar_t kIndexFolderName[] = L"defset.chunks";
// The folders of the published set that hold each file compressed (under the file's
// name) and the patches from earlier versions of files (PatchName). Never installed.
inline constexpr wchar_t kCompressedFolderName[] = L"defset.z";
inline constexpr wchar_t kPatchFolderName[] = L"defset.patches";

// A published object that decodes to a listed file: its size and digest as the manifest
// names them, so that the signature covers it.
struct PackedObject {
  std::uint64_t size = 0;  // 0: none is published
  Digest256 digest{};
};

// A patch that turns the file whose content has the digest `source` into the listed file.
struct FilePatch {
  Digest256 source{};
  PackedObject object;
};

struct ManifestFile {
  std::wstring name;
  std::uint64_t size = 0;
  Digest256 digest{};
  // The chunk index the manifest names for the file (section "Indexes"): its size and
  // digest, so that the signature covers it too. indexSize 0: none is published.
  std::uint64_t indexSize = 0;
  Digest256 indexDigest{};
  // The file as one zstd frame (section "Compressed"), and the patches from earlier
  // versions of it (section "Patches").
  PackedObject compressed;
  std::vector<FilePatch> patches;
};

// The name a patch is published under in kPatchFolderName: the digests of the file it
// starts from and of the file it makes, so that the same patch always has the same name
// and a machine can only ever ask for one that starts from what it has.
std::wstring PatchName(const Digest256& source, const Digest256& target);

struct DefinitionManifest {
  std::wstring version;
  std::wstring date;
  // Until when the publisher's signature vouches for the set as current (UTC seconds
  // since 1970); none when the manifest names no expiry.
  std::optional<std::int64_t> expires;
  std::vector<ManifestFile> files;
};

// Whether a set with this manifest is past its expiry at `now` (UTC seconds).
bool Expired(const DefinitionManifest& manifest, std::int64_t now);


// True for a name that can only ever mean a file directly inside the destination.
bool IsPlainFileName(std::wstring_view name);

// Reads a byte count: 1 to 19 decimal digits, nothing else.
bool ParseSize(std::wstring_view text, std::uint64_t& size);

// Reads 64 hexadecimal digits (either letter case) into a digest.
bool ParseDigest(std::wstring_view hex, Digest256& digest);
// A digest as the manifest writes it: 64 lowercase hexadecimal digits.
std::wstring DigestHex(const Digest256& digest);

// Orders two set versions: negative when `a` comes before `b`, zero when they are the
// same version, positive when `a` comes after. Both are split into parts at "." and
// "-"; two parts that are both decimal digits compare as numbers (so 2026.12.10 comes
// after 2026.12.9, and 07 is 7), any other two ordinally without regard to case. When
// every part of the shorter version equals the other's, the longer one comes after
// (1.0 before 1.0.1 and 1.0-rc).
int CompareVersions(std::wstring_view a, std::wstring_view b);

// Parses manifest bytes (UTF-8 or UTF-16 with byte-order mark, else the ANSI code page).
// UncIniInvalidFormat, preceded in reading order by the detail: ManifestNoVersion,
// ManifestNoFiles, ManifestBadEntry (also for an "Expires" that is not a UTC moment) or
// ManifestUnsafeName.
ResultChain ParseManifest(std::string_view bytes, DefinitionManifest& manifest);

// Reads the manifest file of the set in `folder`: its bytes (kept so that exactly the
// checked text is installed) and their meaning. UncIniNotFound when it cannot be read.
ResultChain LoadManifest(const std::wstring& folder, std::string& bytes, DefinitionManifest& manifest);

}  // namespace kv::refengine
