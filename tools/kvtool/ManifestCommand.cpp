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
// Names the engine would refuse (its own check, from the set format's library, which
// this tool links) stop the command before anything is written; so do names an INI line
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

constexpr wchar_t kUsage[] =
    L"usage: kvtool manifest [--previous <set folder>]... <folder> <version> [<date>]\n"
    L"  writes <folder>\\defset.ini listing every file of the folder (subfolders and defset.ini itself\n"
    L"  are skipped); the date defaults to today (YYYY-MM-DD). Copy the files in first, then run this.\n"
    L"  Beside it: chunk indexes (defset.chunks), compressed copies (defset.z) and, for each earlier\n"
    L"  published set given with --previous, patches from its files to the changed ones (defset.patches).\n";

// What the command was asked for.
struct ManifestRequest {
  std::wstring folder;
  std::wstring version;
  std::wstring date;
  std::vector<std::wstring> previous;  // the earlier sets' folders
};

// The folder's files to list, and those skipped for being named after the manifest.
struct FolderFiles {
  std::vector<std::wstring> names;
  std::wstring skipped;
};

// The manifest's lines and what they list, built a file at a time.
struct ManifestDraft {
  std::vector<refengine::ManifestFile> files;
  std::wstring listed;  // the [Files] lines as the summary shows them
  std::wstring fileLines;
  std::wstring indexLines;
  std::wstring compressedLines;
  std::wstring patchLines;
  unsigned compressedCount = 0;
  unsigned patchCount = 0;
};

// The request the arguments make; false when they are not a usage the command knows.
bool ReadArguments(const Arguments& given, ManifestRequest& request) {
  Arguments arguments;
  bool wrong = false;
  for (std::size_t i = 0; i < given.size(); ++i) {
    if (given[i] == L"--previous") {
      wrong = wrong || i + 1 == given.size() || given[i + 1].empty();
      if (i + 1 < given.size()) request.previous.push_back(FullPathOf(given[++i]));
    } else {
      arguments.push_back(given[i]);
    }
  }
  if (wrong || arguments.size() < 2 || arguments.size() > 3 || arguments[0].empty()) return false;
  request.folder = FullPathOf(arguments[0]);
  while (request.folder.size() > 3 && (request.folder.back() == L'\\' || request.folder.back() == L'/')) {
    request.folder.pop_back();
  }
  request.version = arguments[1];
  request.date = arguments.size() == 3 ? arguments[2] : Today();
  return true;
}

// 0 for a request that can be carried out, or the exit code of the complaint.
int CheckRequest(const ManifestRequest& request) {
  if (request.version.empty() || !IsPrintable(request.version)) {
    return Complain(kCommand, L"the version must be a non-empty text on one line", 2);
  }
  if (!IsPrintable(request.date)) return Complain(kCommand, L"the date must be a text on one line", 2);
  if (!refengine::FolderExists(request.folder)) return Complain(kCommand, L"not a folder: " + request.folder, 1);
  return 0;
}

// The manifests of the earlier sets given with --previous. 0, or the exit code of the
// complaint.
int LoadEarlierSets(const std::vector<std::wstring>& previous, std::vector<EarlierSet>& earlier) {
  for (const std::wstring& path : previous) {
    EarlierSet set{path, {}};
    std::string bytes;
    if (const ResultChain loaded = refengine::LoadManifest(path, bytes, set.manifest); loaded.Failed()) {
      return Complain(kCommand, L"cannot read the earlier set in " + path + L": " + loaded.ToText(), 1);
    }
    earlier.push_back(std::move(set));
  }
  return 0;
}

// Files named after the manifest are skipped, names the engine would refuse noted, the
// rest listed.
void SortOut(const std::wstring& name, FolderFiles& found, std::wstring& refused) {
  if (IsManifestName(name)) {
    const std::wstring lower = Lower(name);
    if (lower != refengine::kManifestName && lower != refengine::kSignatureName && lower != refengine::kOriginName) {
      found.skipped += L"  " + name + L"\n";
    }
    return;
  }
  if (const std::wstring why = Refusal(name); !why.empty()) {
    refused += L"  \"" + name + L"\": " + why + L"\n";
    return;
  }
  found.names.push_back(name);
}

// The folder's files, each checked as the engine will check it, in order. 0, or the
// exit code of the complaint.
int ListSetFiles(const std::wstring& folder, FolderFiles& found) {
  std::wstring refused;
  FolderEnumeration listing;
  if (const ResultChain started = listing.Start(folder, 0); started.Failed()) {
    return Complain(kCommand, L"cannot list " + folder + L": " + started.ToText(), 1);
  }
  for (;;) {
    const ResultChain next = listing.Next();
    if (next.Contains(err::NoMoreFile)) break;
    if (next.Failed()) return Complain(kCommand, L"cannot list " + folder + L": " + next.ToText(), 1);
    if (!listing.IsFolder()) SortOut(listing.Name(), found, refused);
  }
  if (!refused.empty()) {
    return Complain(kCommand, L"refused, nothing written: the engine would refuse the whole set for these names:\n" +
                                  refused + L"Rename or remove them and run the command again.",
                    1);
  }
  if (found.names.empty()) {
    return Complain(kCommand, L"no files in " + folder + L": the engine refuses a set that lists none", 1);
  }
  std::sort(found.names.begin(), found.names.end());
  return 0;
}

// A file's chunk index, in place before the manifest that names it, like the file
// itself. 0, or the exit code of the complaint.
int WriteIndex(const std::wstring& folder, const std::wstring& name, const std::string& index) {
  const std::wstring indexFolder = folder + L"\\" + refengine::kIndexFolderName;
  ::CreateDirectoryW(LongPathForm(indexFolder, PathKind::Folder).c_str(), nullptr);
  const std::wstring indexPath = indexFolder + L"\\" + name;
  if (const ResultChain written = refengine::ReplaceWholeFile(indexPath, index); written.Failed()) {
    return Complain(kCommand, L"cannot write " + indexPath + L": " + written.ToText(), 1);
  }
  return 0;
}

// One file's size and digest as the engine will compute them, its chunk index, compressed
// copy and patches, and its lines. 0, or the exit code of the complaint.
int AddFile(const std::wstring& folder, const std::wstring& name, const std::vector<EarlierSet>& earlier,
            ManifestDraft& draft) {
  refengine::ManifestFile file;
  file.name = name;
  std::string index;
  if (const ResultChain digested = DigestAndIndex(folder + L"\\" + name, file, index); digested.Failed()) {
    return Complain(kCommand, L"cannot read " + folder + L"\\" + name + L": " + digested.ToText(), 1);
  }
  const std::wstring line = name + ObjectText({file.size, file.digest});
  draft.fileLines += line + L"\r\n";
  draft.listed += L"  " + line + L"\n";
  if (!index.empty()) {
    if (const int failed = WriteIndex(folder, name, index); failed != 0) return failed;
    draft.indexLines += name + ObjectText({file.indexSize, file.indexDigest}) + L"\r\n";
  }
  if (const ResultChain packed = Pack(folder, earlier, file, draft.patchCount); packed.Failed()) {
    return Complain(kCommand, L"cannot pack " + folder + L"\\" + name + L": " + packed.ToText(), 1);
  }
  if (file.compressed.size != 0) {
    draft.compressedLines += name + ObjectText(file.compressed) + L"\r\n";
    ++draft.compressedCount;
  }
  for (const refengine::FilePatch& patch : file.patches) {
    draft.patchLines += name + L"," + refengine::DigestHex(patch.source) + ObjectText(patch.object) + L"\r\n";
  }
  draft.files.push_back(file);
  return 0;
}

std::wstring ManifestText(const ManifestRequest& request, const ManifestDraft& draft) {
  std::wstring text = L"[DefinitionSet]\r\nVersion=" + request.version + L"\r\nDate=" + request.date +
                      L"\r\n\r\n[Files]\r\n" + draft.fileLines;
  if (!draft.indexLines.empty()) text += L"\r\n[Indexes]\r\n" + draft.indexLines;
  if (!draft.compressedLines.empty()) text += L"\r\n[Compressed]\r\n" + draft.compressedLines;
  if (!draft.patchLines.empty()) text += L"\r\n[Patches]\r\n" + draft.patchLines;
  return text;
}

// UTF-8 with a byte-order mark, which the engine reads whatever its code page. 0, or the
// exit code of the complaint.
int EncodeManifest(const std::wstring& text, std::string& bytes) {
  bytes = "\xEF\xBB\xBF";
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
  return 0;
}

// The engine's own parser must read back exactly what was meant. 0, or the exit code of
// the complaint.
int CheckReadBack(const std::string& bytes, const ManifestRequest& request,
                  const std::vector<refengine::ManifestFile>& files) {
  refengine::DefinitionManifest check;
  if (const ResultChain parsed = refengine::ParseManifest(bytes, check); parsed.Failed()) {
    return Complain(kCommand, L"the engine would not read the manifest: " + parsed.ToText(), 1);
  }
  bool same = check.version == request.version && check.date == request.date && check.files.size() == files.size();
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
  return 0;
}

std::wstring Summary(const ManifestRequest& request, const std::wstring& target, const std::wstring& skipped,
                     const ManifestDraft& draft, std::size_t earlierSets) {
  const std::vector<refengine::ManifestFile>& files = draft.files;
  return (skipped.empty() ? std::wstring() : L"Not listed (named after the manifest):\n" + skipped) + L"[Files]\n" +
         draft.listed +
         FormatText(
             L"Wrote %s: version %s, date %s, %u file(s), %u chunk index(es) in %s, %u compressed "
             L"copies in %s, %u patch(es) from %u earlier set(s) in %s.\n",
             target.c_str(), request.version.c_str(), request.date.c_str(), static_cast<unsigned>(files.size()),
             static_cast<unsigned>(
                 std::count_if(files.begin(), files.end(), [](const auto& f) { return f.indexSize != 0; })),
             refengine::kIndexFolderName, draft.compressedCount, refengine::kCompressedFolderName, draft.patchCount,
             static_cast<unsigned>(earlierSets), refengine::kPatchFolderName);
}

}  // namespace

int RunManifest(const Arguments& given) {
  ManifestRequest request;
  if (!ReadArguments(given, request)) {
    WriteError(kUsage);
    return 2;
  }
  if (const int refused = CheckRequest(request); refused != 0) return refused;
  std::vector<EarlierSet> earlier;
  if (const int failed = LoadEarlierSets(request.previous, earlier); failed != 0) return failed;
  FolderFiles found;
  if (const int failed = ListSetFiles(request.folder, found); failed != 0) return failed;
  ManifestDraft draft;
  for (const std::wstring& name : found.names) {
    if (const int failed = AddFile(request.folder, name, earlier, draft); failed != 0) return failed;
  }
  std::string bytes;
  if (const int failed = EncodeManifest(ManifestText(request, draft), bytes); failed != 0) return failed;
  if (const int failed = CheckReadBack(bytes, request, draft.files); failed != 0) return failed;

  // Written aside, flushed, then renamed over the old manifest in one step.
  const std::wstring target = request.folder + L"\\" + refengine::kManifestName;
  if (const ResultChain replaced = refengine::ReplaceWholeFile(target, bytes); replaced.Failed()) {
    return Complain(kCommand, L"cannot write " + target + L": " + replaced.ToText(), 1);
  }
  WriteOut(Summary(request, target, found.skipped, draft, earlier.size()));
  return 0;
}

}  // namespace kv::tool
