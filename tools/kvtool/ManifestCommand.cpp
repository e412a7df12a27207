// "kvtool manifest": writes the reference engine's manifest "defset.ini" for the files of
// a folder (engines/ScanEngine/README.md):
//
//   [DefinitionSet]
//   Version=<version>
//   Date=<date>
//
//   [Files]
//   <name>=<size>,<sha256 in hexadecimal>
//
//   [Indexes]
//   <name>=<size>,<sha256 of the file's chunk index>
//
//   [Compressed]
//   <name>=<size>,<sha256 of defset.z\<name>>
//
//   [Patches]
//   <name>,<sha256 of an earlier version>=<size>,<sha256 of the patch from it>
//
// Each file of at least kMinIndexedFile bytes gets a chunk index (ChunkIndex.h) in the
// subfolder "defset.chunks", written before the manifest that names it, so that an
// update can fetch only the chunks it does not have. Each file that compresses gets its
// zstd frame in "defset.z"; with --previous <set folder> (repeatable: the last few
// published sets), each file that changed since one of them gets a patch from that
// version in "defset.patches" (PackWriter.h), where the patch costs less than the
// compressed file. All are in place before the manifest.
//
// Every file directly in the folder is listed; subfolders, "defset.ini*" and
// "defset.sig*" (the manifest, its signature, leftovers named after them) are not. The
// manifest is written under a temporary name, flushed, and renamed into place last, so
// that an update running meanwhile sees either the old manifest or the new one whole.
// Names the engine would refuse (its own check, DefinitionManifest.cpp, compiled into
// this tool) stop the command before anything is written; so do names an INI line
// cannot carry. The text written is parsed back with the engine's own parser first.
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "Commands.h"
#include "ConsoleOutput.h"
#include "ToolSupport.h"
#include "config/IniText.h"
#include "defset/ChunkIndex.h"
#include "defset/DefinitionManifest.h"
#include "defset/FileTransfer.h"
#include "defset/PackWriter.h"
#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "foundation/FolderEnumeration.h"
#include "foundation/TextEncoding.h"
#include "foundation/TextFormat.h"

namespace kv::tool {

namespace {

constexpr wchar_t kCommand[] = L"manifest";
// The engine reads manifests of at most 1 MiB (FileTransfer.cpp, ReadWholeFile).
constexpr std::size_t kMaxManifestBytes = 1024 * 1024;

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// The manifest, its signature and anything named after them ("defset.ini.new", a
// temporary file left by an interrupted run), and the origin an installed set keeps:
// never definition files.
bool IsManifestName(const std::wstring& name) {
  const std::wstring lower = Lower(name);
  return lower.rfind(refengine::kManifestName, 0) == 0 || lower.rfind(refengine::kSignatureName, 0) == 0 ||
         lower == refengine::kOriginName;
}

// Why the engine (or the INI line) would not take this name; empty when it would.
std::wstring Refusal(const std::wstring& name) {
  if (!refengine::IsPlainFileName(name)) return L"the engine refuses it (ManifestUnsafeName)";
  // "name=size,digest": an "=" would end the key early; "[" or ";" first makes a section
  // header or a comment of the line.
  if (name.find(L'=') != std::wstring::npos) return L"an INI key cannot hold \"=\"";
  if (name.front() == L'[' || name.front() == L';') return L"an INI line cannot begin with \"[\" or \";\"";
  return {};
}

// Smaller files are fetched whole: their chunks would save less than the index costs.
constexpr std::uint64_t kMinIndexedFile = 8 * refengine::kMinChunk;

// Size, digest and chunk index of a file, read once.
ResultChain DigestAndIndex(const std::wstring& path, refengine::ManifestFile& file, std::string& index) {
  refengine::FileReader reader;
  KV_RETURN_IF_FAILED(reader.Open(path));
  KV_RETURN_IF_FAILED(reader.Size(file.size));
  Sha256 hash;
  std::vector<refengine::Chunk> chunks;
  refengine::ChunkCutter cutter(chunks);
  KV_RETURN_IF_FAILED(reader.Stream(0, file.size, [&](const char* data, std::size_t size) -> ResultChain {
    hash.Update(data, size);
    cutter.Update(data, size);
    return {};
  }));
  cutter.Finish();
  file.digest = hash.Finish();
  index.clear();
  if (file.size >= kMinIndexedFile) {
    index = refengine::ChunkIndexBytes(chunks, file.size);
    file.indexSize = index.size();
    file.indexDigest = Sha256::Of(index.data(), index.size());
  }
  return {};
}

// The engine never decodes more than this in one file from a compressed copy or patch,
// and the tool holds the files it packs in memory.
constexpr std::uint64_t kMaxPackedFile = std::uint64_t{2} << 30;

// A published object, in place before the manifest names it.
ResultChain WriteObject(const std::wstring& folder, const wchar_t* subfolder, const std::wstring& name,
                        const std::string& bytes, refengine::PackedObject& object) {
  const std::wstring path = folder + L"\\" + subfolder;
  ::CreateDirectoryW(LongPathForm(path, PathKind::Folder).c_str(), nullptr);
  KV_RETURN_IF_FAILED(refengine::ReplaceWholeFile(path + L"\\" + name, bytes));
  object.size = bytes.size();
  object.digest = Sha256::Of(bytes.data(), bytes.size());
  return {};
}

// An earlier set the patches start from: its folder and what its manifest lists.
struct EarlierSet {
  std::wstring folder;
  refengine::DefinitionManifest manifest;
};

// The compressed copy of `file` and its patches from the earlier sets, each written only
// where it costs less than what the engine would fetch otherwise.
ResultChain Pack(const std::wstring& folder, const std::vector<EarlierSet>& earlier, refengine::ManifestFile& file,
                 unsigned& patchCount) {
  if (file.size == 0 || file.size > kMaxPackedFile) return {};
  std::string bytes;
  std::string frame;
  KV_RETURN_IF_FAILED(refengine::ReadWholeFile(folder + L"\\" + file.name, bytes, kMaxPackedFile, err::SizelimitOver));
  KV_RETURN_IF_FAILED(refengine::CompressWhole(bytes, frame));
  if (!frame.empty()) {
    KV_RETURN_IF_FAILED(WriteObject(folder, refengine::kCompressedFolderName, file.name, frame, file.compressed));
  }
  for (const EarlierSet& set : earlier) {
    const auto before = std::find_if(set.manifest.files.begin(), set.manifest.files.end(),
                                     [&](const refengine::ManifestFile& f) { return IniCompare(f.name, file.name); });
    if (before == set.manifest.files.end() || before->digest == file.digest || before->size == 0 ||
        std::any_of(file.patches.begin(), file.patches.end(),
                    [&](const refengine::FilePatch& p) { return p.source == before->digest; })) {
      continue;
    }
    // The earlier file as that set published it, or no patch from it.
    std::string from;
    if (refengine::ReadWholeFile(set.folder + L"\\" + before->name, from, kMaxPackedFile, err::SizelimitOver)
            .Failed() ||
        Sha256::Of(from.data(), from.size()) != before->digest) {
      continue;
    }
    KV_RETURN_IF_FAILED(refengine::MakePatch(from, bytes, frame));
    const std::uint64_t otherwise = file.compressed.size != 0 ? file.compressed.size : file.size;
    if (frame.size() >= otherwise) continue;
    refengine::FilePatch patch;
    patch.source = before->digest;
    KV_RETURN_IF_FAILED(WriteObject(folder, refengine::kPatchFolderName,
                                    refengine::PatchName(patch.source, file.digest), frame, patch.object));
    file.patches.push_back(patch);
    ++patchCount;
  }
  return {};
}

std::wstring ObjectText(const refengine::PackedObject& object) {
  return FormatText(L"=%llu,", static_cast<unsigned long long>(object.size)) + refengine::DigestHex(object.digest);
}

std::wstring Today() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return FormatText(L"%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
}

}  // namespace

int RunManifest(const Arguments& given) {
  Arguments arguments;
  std::vector<std::wstring> previous;
  bool wrong = false;
  for (std::size_t i = 0; i < given.size(); ++i) {
    if (given[i] == L"--previous") {
      wrong = wrong || i + 1 == given.size() || given[i + 1].empty();
      if (i + 1 < given.size()) previous.push_back(FullPathOf(given[++i]));
    } else {
      arguments.push_back(given[i]);
    }
  }
  if (wrong || arguments.size() < 2 || arguments.size() > 3 || arguments[0].empty()) {
    WriteError(
        L"usage: kvtool manifest [--previous <set folder>]... <folder> <version> [<date>]\n"
        L"  writes <folder>\\defset.ini listing every file of the folder (subfolders and defset.ini itself\n"
        L"  are skipped); the date defaults to today (YYYY-MM-DD). Copy the files in first, then run this.\n"
        L"  Beside it: chunk indexes (defset.chunks), compressed copies (defset.z) and, for each earlier\n"
        L"  published set given with --previous, patches from its files to the changed ones (defset.patches).\n");
    return 2;
  }
  std::wstring folder = FullPathOf(arguments[0]);
  while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  const std::wstring version = arguments[1];
  const std::wstring date = arguments.size() == 3 ? arguments[2] : Today();
  if (version.empty() || !IsPrintable(version)) {
    return Complain(kCommand, L"the version must be a non-empty text on one line", 2);
  }
  if (!IsPrintable(date)) return Complain(kCommand, L"the date must be a text on one line", 2);
  if (!refengine::FolderExists(folder)) return Complain(kCommand, L"not a folder: " + folder, 1);
  std::vector<EarlierSet> earlier;
  for (const std::wstring& path : previous) {
    EarlierSet set{path, {}};
    std::string bytes;
    if (const ResultChain loaded = refengine::LoadManifest(path, bytes, set.manifest); loaded.Failed()) {
      return Complain(kCommand, L"cannot read the earlier set in " + path + L": " + loaded.ToText(), 1);
    }
    earlier.push_back(std::move(set));
  }

  // The folder's files, each checked as the engine will check it.
  std::vector<std::wstring> names;
  std::wstring refused;
  std::wstring skipped;
  FolderEnumeration listing;
  if (const ResultChain started = listing.Start(folder, 0); started.Failed()) {
    return Complain(kCommand, L"cannot list " + folder + L": " + started.ToText(), 1);
  }
  for (;;) {
    const ResultChain next = listing.Next();
    if (next.Contains(err::NoMoreFile)) break;
    if (next.Failed()) return Complain(kCommand, L"cannot list " + folder + L": " + next.ToText(), 1);
    if (listing.IsFolder()) continue;
    const std::wstring& name = listing.Name();
    if (IsManifestName(name)) {
      const std::wstring lower = Lower(name);
      if (lower != refengine::kManifestName && lower != refengine::kSignatureName && lower != refengine::kOriginName) {
        skipped += L"  " + name + L"\n";
      }
      continue;
    }
    if (const std::wstring why = Refusal(name); !why.empty()) {
      refused += L"  \"" + name + L"\": " + why + L"\n";
      continue;
    }
    names.push_back(name);
  }
  if (!refused.empty()) {
    return Complain(kCommand, L"refused, nothing written: the engine would refuse the whole set for these names:\n" +
                                  refused + L"Rename or remove them and run the command again.",
                    1);
  }
  if (names.empty()) {
    return Complain(kCommand, L"no files in " + folder + L": the engine refuses a set that lists none", 1);
  }
  std::sort(names.begin(), names.end());

  // Sizes and digests as the engine will compute them.
  std::vector<refengine::ManifestFile> files;
  std::wstring text = L"[DefinitionSet]\r\nVersion=" + version + L"\r\nDate=" + date + L"\r\n\r\n[Files]\r\n";
  std::wstring listed;
  std::wstring indexLines;
  std::wstring compressedLines;
  std::wstring patchLines;
  unsigned compressedCount = 0;
  unsigned patchCount = 0;
  const std::wstring indexFolder = folder + L"\\" + refengine::kIndexFolderName;
  for (const std::wstring& name : names) {
    refengine::ManifestFile file;
    file.name = name;
    std::string index;
    if (const ResultChain digested = DigestAndIndex(folder + L"\\" + name, file, index); digested.Failed()) {
      return Complain(kCommand, L"cannot read " + folder + L"\\" + name + L": " + digested.ToText(), 1);
    }
    const std::wstring line = name + ObjectText({file.size, file.digest});
    text += line + L"\r\n";
    listed += L"  " + line + L"\n";
    if (!index.empty()) {
      // In place before the manifest that names it, like the file itself.
      ::CreateDirectoryW(LongPathForm(indexFolder, PathKind::Folder).c_str(), nullptr);
      const std::wstring indexPath = indexFolder + L"\\" + name;
      if (const ResultChain written = refengine::ReplaceWholeFile(indexPath, index); written.Failed()) {
        return Complain(kCommand, L"cannot write " + indexPath + L": " + written.ToText(), 1);
      }
      indexLines += name + ObjectText({file.indexSize, file.indexDigest}) + L"\r\n";
    }
    if (const ResultChain packed = Pack(folder, earlier, file, patchCount); packed.Failed()) {
      return Complain(kCommand, L"cannot pack " + folder + L"\\" + name + L": " + packed.ToText(), 1);
    }
    if (file.compressed.size != 0) {
      compressedLines += name + ObjectText(file.compressed) + L"\r\n";
      ++compressedCount;
    }
    for (const refengine::FilePatch& patch : file.patches) {
      patchLines += name + L"," + refengine::DigestHex(patch.source) + ObjectText(patch.object) + L"\r\n";
    }
    files.push_back(file);
  }
  if (!indexLines.empty()) text += L"\r\n[Indexes]\r\n" + indexLines;
  if (!compressedLines.empty()) text += L"\r\n[Compressed]\r\n" + compressedLines;
  if (!patchLines.empty()) text += L"\r\n[Patches]\r\n" + patchLines;

  // UTF-8 with a byte-order mark, which the engine reads whatever its code page.
  std::string bytes = "\xEF\xBB\xBF";
  std::string encoded;
  if (const ResultChain converted = WideToNarrow(text, CP_UTF8, 0, encoded); converted.Failed()) {
    return Complain(kCommand, L"cannot encode the manifest: " + converted.ToText(), 1);
  }
  bytes += encoded;
  if (bytes.size() > kMaxManifestBytes) {
    return Complain(kCommand, FormatText(L"the manifest would take %llu bytes; the engine reads at most %llu",
                                         static_cast<unsigned long long>(bytes.size()),
                                         static_cast<unsigned long long>(kMaxManifestBytes)),
                    1);
  }

  // The engine's own parser must read back exactly what was meant.
  refengine::DefinitionManifest check;
  if (const ResultChain parsed = refengine::ParseManifest(bytes, check); parsed.Failed()) {
    return Complain(kCommand, L"the engine would not read the manifest: " + parsed.ToText(), 1);
  }
  bool same = check.version == version && check.date == date && check.files.size() == files.size();
  for (std::size_t i = 0; same && i < files.size(); ++i) {
    const auto found = std::find_if(check.files.begin(), check.files.end(),
                                    [&](const refengine::ManifestFile& f) { return f.name == files[i].name; });
    same = found != check.files.end() && found->size == files[i].size && found->digest == files[i].digest &&
           found->indexSize == files[i].indexSize && found->indexDigest == files[i].indexDigest &&
           found->compressed.size == files[i].compressed.size &&
           found->compressed.digest == files[i].compressed.digest &&
           found->patches.size() == files[i].patches.size();
  }
  if (!same) return Complain(kCommand, L"the engine would read the manifest differently; nothing written", 1);

  // Written aside, flushed, then renamed over the old manifest in one step.
  const std::wstring target = folder + L"\\" + refengine::kManifestName;
  if (const ResultChain replaced = refengine::ReplaceWholeFile(target, bytes); replaced.Failed()) {
    return Complain(kCommand, L"cannot write " + target + L": " + replaced.ToText(), 1);
  }

  WriteOut((skipped.empty() ? std::wstring() : L"Not listed (named after the manifest):\n" + skipped) + L"[Files]\n" +
           listed +
           FormatText(L"Wrote %s: version %s, date %s, %u file(s), %u chunk index(es) in %s, %u compressed "
                      L"copies in %s, %u patch(es) from %u earlier set(s) in %s.\n",
                      target.c_str(), version.c_str(), date.c_str(), static_cast<unsigned>(files.size()),
                      static_cast<unsigned>(std::count_if(files.begin(), files.end(),
                                                          [](const auto& f) { return f.indexSize != 0; })),
                      refengine::kIndexFolderName, compressedCount, refengine::kCompressedFolderName, patchCount,
                      static_cast<unsigned>(earlier.size()), refengine::kPatchFolderName));
  return 0;
}

}  // namespace kv::tool
