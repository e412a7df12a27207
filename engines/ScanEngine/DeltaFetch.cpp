#include "DeltaFetch.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <memory>
#include <utility>

#include "ChunkIndex.h"
#include "EngineCodes.h"
#include "FileTransfer.h"
#include "PackedFetch.h"
#include "SetIdentity.h"
#include "foundation/FileSystem.h"
#include "foundation/FolderEnumeration.h"
#include "foundation/OwnFiles.h"

namespace kv::refengine {

namespace {

// What one more request costs beside its body (request and answer headers): a range
// that saves less than this is not worth asking for apart.
constexpr std::uint64_t kRequestCost = 1024;

using ChunkKey = std::pair<ChunkDigest, std::uint32_t>;

// Where a chunk of the new file can be copied from.
struct Location {
  int source = -1;  // index into the readers; -1: fetch it
  std::uint64_t offset = 0;
};

// One step of the assembly: `count` bytes from a local file, or a range to fetch.
struct Step {
  int source = -1;
  std::uint64_t from = 0;  // offset in the local file, or in the published one
  std::uint64_t count = 0;
};

// Cuts each readable file of `have` and notes where chunks of the new file lie in them.
void LocateChunks(const std::vector<std::wstring>& have, std::map<ChunkKey, Location>& wanted,
                  std::vector<std::unique_ptr<FileReader>>& readers) {
  for (const std::wstring& path : have) {
    auto reader = std::make_unique<FileReader>();
    std::uint64_t size = 0;
    if (!PathExists(path) || reader->Open(path).Failed() || reader->Size(size).Failed()) continue;
    std::vector<Chunk> chunks;
    ChunkCutter cutter(chunks);
    if (reader->Stream(0, size, [&](const char* data, std::size_t n) -> ResultChain {
          cutter.Update(data, n);
          return {};
        }).Failed()) {
      continue;
    }
    cutter.Finish();
    bool used = false;
    for (const Chunk& chunk : chunks) {
      const auto found = wanted.find({chunk.digest, chunk.length});
      if (found == wanted.end() || found->second.source >= 0) continue;
      found->second = {static_cast<int>(readers.size()), chunk.offset};
      used = true;
    }
    if (used) readers.push_back(std::move(reader));
  }
}

// The new file as copies and fetched ranges, neighbours of one kind joined.
std::vector<Step> PlanSteps(const std::vector<Chunk>& chunks, const std::map<ChunkKey, Location>& wanted) {
  std::vector<Step> steps;
  for (const Chunk& chunk : chunks) {
    const Location& at = wanted.at({chunk.digest, chunk.length});
    const std::uint64_t from = at.source >= 0 ? at.offset : chunk.offset;
    if (!steps.empty() && steps.back().source == at.source && steps.back().from + steps.back().count == from) {
      steps.back().count += chunk.length;
    } else {
      steps.push_back({at.source, from, chunk.length});
    }
  }
  return steps;
}

// Failures that end the update whatever way the file is fetched: the deadline, or a server
// that asked for time.
bool EndsTheUpdate(const SetSource& source, const ResultChain& failure) {
  return failure.Contains(TransferDeadlineExceeded) || source.AskedNotBefore().has_value();
}

// A way that failed leaves no file behind for the next one, which creates it anew.
void DropTarget(const std::wstring& target) { ::DeleteFileW(LongPathForm(target).c_str()); }

// One way through a published object (PackedFetch.h): true when the file came that way.
// Otherwise the target is gone for the next way, and `ended` holds a failure that ends
// the update instead.
bool TryPacked(SetSource& source, const ManifestFile& file, const wchar_t* folder, const std::wstring& name,
               const PackedObject& object, const std::wstring& reference, const std::wstring& target,
               Digest256& digest, FetchedFile& fetched, ResultChain& ended) {
  std::uint64_t received = 0;
  const ResultChain packed = FetchPacked(source, file, folder, name, object, reference, target, digest, received);
  fetched.bytes += received;
  if (!packed.Failed() && digest == file.digest) return true;
  if (packed.Failed() && EndsTheUpdate(source, packed)) {
    ended = packed;
  } else {
    DropTarget(target);
  }
  return false;
}

// The raw file, or its compressed copy where one is published: whichever costs less, the
// copy falling back to the raw file when it is missing or does not decode to the file.
ResultChain FetchWhole(SetSource& source, const ManifestFile& file, const std::wstring& target, Digest256& digest,
                       FetchedFile& fetched) {
  fetched.assembled = false;
  if (file.compressed.size != 0 && file.compressed.size < file.size) {
    ResultChain ended;
    fetched.compressed =
        TryPacked(source, file, kCompressedFolderName, file.name, file.compressed, {}, target, digest, fetched, ended);
    if (fetched.compressed) return {};
    if (ended.Failed()) return KV_MARK(ended);
  }
  KV_RETURN_IF_FAILED(source.FetchFile(file, target, digest));
  fetched.bytes += file.size;
  return {};
}

// The patch that starts from one of the files of `have`, as their digests say; the file's
// path goes to `reference`. Only files of patched names are read.
const FilePatch* MatchingPatch(const ManifestFile& file, const std::vector<std::wstring>& have,
                               std::wstring& reference) {
  for (const std::wstring& path : have) {
    std::uint64_t size = 0;
    Digest256 digest{};
    if (file.patches.empty() || !PathExists(path) || DigestOfFile(path, size, digest).Failed() || size == 0) continue;
    for (const FilePatch& patch : file.patches) {
      if (patch.source == digest) {
        reference = path;
        return &patch;
      }
    }
  }
  return nullptr;
}

ResultChain Assemble(SetSource& source, const ManifestFile& file, const std::vector<Step>& steps,
                     const std::vector<std::unique_ptr<FileReader>>& readers, const std::wstring& target,
                     Digest256& digest, FetchedFile& fetched) {
  NewFile output;
  KV_RETURN_IF_FAILED(output.Create(target));
  Sha256 hash;
  std::uint64_t received = 0;
  const BodySink write = [&](const char* data, std::size_t size) -> ResultChain {
    hash.Update(data, size);
    return output.Write(data, size);
  };
  const BodySink fetch = [&](const char* data, std::size_t size) -> ResultChain {
    received += size;
    fetched.bytes += size;
    return write(data, size);
  };
  for (const Step& step : steps) {
    if (step.source >= 0) {
      KV_RETURN_IF_FAILED(readers[static_cast<std::size_t>(step.source)]->Stream(step.from, step.count, write));
      continue;
    }
    received = 0;
    KV_RETURN_IF_FAILED(source.FetchRange(file, step.from, step.count, fetch));
    if (received != step.count) return KV_MARK(FileSizeMismatch);
  }
  KV_RETURN_IF_FAILED(output.Finish());
  digest = hash.Finish();
  return {};
}

}  // namespace

ResultChain FetchChangedFile(SetSource& source, const ManifestFile& file, const std::vector<std::wstring>& have,
                             const std::wstring& target, Digest256& digest, FetchedFile& fetched) {
  fetched = FetchedFile{};
  // The cheapest way first: a patch from what the machine has, the chunks it lacks, the
  // compressed file, the raw file. Each ends with the whole file's digest; a way that
  // fails falls back to the next.
  const std::uint64_t whole =
      file.compressed.size != 0 && file.compressed.size < file.size ? file.compressed.size : file.size;
  std::wstring reference;
  if (const FilePatch* patch = MatchingPatch(file, have, reference); patch != nullptr && patch->object.size < whole) {
    ResultChain ended;
    fetched.patched = TryPacked(source, file, kPatchFolderName, PatchName(patch->source, file.digest), patch->object,
                                reference, target, digest, fetched, ended);
    if (fetched.patched) return {};
    if (ended.Failed()) return KV_MARK(ended);
  }
  // Without a local file that may share chunks, the index could only say: all of it.
  const bool local = std::any_of(have.begin(), have.end(), [](const std::wstring& path) { return PathExists(path); });
  if (file.indexSize == 0 || file.size == 0 || !local || file.indexSize >= whole) {
    return KV_MARK(FetchWhole(source, file, target, digest, fetched));
  }
  std::string indexBytes;
  std::vector<Chunk> chunks;
  const ResultChain gotIndex =
      source.FetchObject(kIndexFolderName, file.name, file.indexSize, [&](const char* data, std::size_t size) {
        indexBytes.append(data, size);
        return ResultChain();
      });
  fetched.bytes += indexBytes.size();
  // An index that is missing, damaged or not the one the manifest names only costs the
  // saving; a deadline or a server asking for time ends the update as it would anyway.
  if (gotIndex.Failed() && EndsTheUpdate(source, gotIndex)) return KV_MARK(gotIndex);
  if (gotIndex.Failed() || Sha256::Of(indexBytes.data(), indexBytes.size()) != file.indexDigest ||
      !ParseChunkIndex(indexBytes, file.size, chunks)) {
    return KV_MARK(FetchWhole(source, file, target, digest, fetched));
  }

  std::map<ChunkKey, Location> wanted;
  for (const Chunk& chunk : chunks) wanted.emplace(ChunkKey{chunk.digest, chunk.length}, Location{});
  std::vector<std::unique_ptr<FileReader>> readers;
  LocateChunks(have, wanted, readers);
  const std::vector<Step> steps = PlanSteps(chunks, wanted);
  std::uint64_t missing = 0;
  std::uint64_t requests = 0;
  for (const Step& step : steps) {
    if (step.source < 0) {
      missing += step.count;
      ++requests;
    }
  }
  if (missing + requests * kRequestCost >= whole) {
    return KV_MARK(FetchWhole(source, file, target, digest, fetched));
  }

  const ResultChain assembled = Assemble(source, file, steps, readers, target, digest, fetched);
  if (assembled.Failed() && !assembled.Contains(RangeNotServed)) return KV_MARK(assembled);
  if (assembled.Failed() || digest != file.digest) {
    // A server that does not serve ranges, or a local file that changed since it was cut.
    DropTarget(target);
    return KV_MARK(FetchWhole(source, file, target, digest, fetched));
  }
  fetched.assembled = true;
  return {};
}

namespace {

void KeepPartialFile(const std::wstring& target, const std::wstring& folder, const std::wstring& name) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(LongPathForm(target).c_str(), GetFileExInfoStandard, &data) ||
      (data.nFileSizeHigh == 0 && data.nFileSizeLow == 0)) {
    return;
  }
  // Best effort: without the folder the move below fails and the part is dropped.
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
