#include "PackedFetch.h"

#include <windows.h>

#include "defset/EngineCodes.h"
#include "defset/FileTransfer.h"
#include "defset/PackedDecoder.h"
#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "foundation/OwnFiles.h"
#include "foundation/UniqueOwner.h"
#include "kernel/HandleHolder.h"

namespace kv::refengine {

namespace {

// A view of a file mapping, unmapped when it goes.
using MappedView = UniqueOwner<void*, &::UnmapViewOfFile>;

// Maps the whole of `mapping` into `view`.
ResultChain Map(const HandleHolder& mapping, DWORD access, MappedView& view) {
  view.Reset(::MapViewOfFile(mapping.Get(), access, 0, 0, 0));
  if (!view.IsOpen()) return KV_MARK(LastErrorChain());
  return {};
}

char* Bytes(const MappedView& view) { return static_cast<char*>(view.Get()); }

// The earlier file a patch starts from, mapped read-only and shared with other readers.
ResultChain MapReference(const std::wstring& path, HandleHolder& file, HandleHolder& mapping, MappedView& view,
                         std::uint64_t& size) {
  KV_RETURN_IF_FAILED(
      file.Attach(::CreateFileW(LongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
  LARGE_INTEGER length{};
  if (!::GetFileSizeEx(file.Get(), &length)) return KV_MARK(LastErrorChain());
  size = static_cast<std::uint64_t>(length.QuadPart);
  // Nothing to map in an empty file, and no patch starts from one.
  if (size == 0) return KV_MARK(PackedObjectInvalid);
  KV_RETURN_IF_FAILED(mapping.Attach(::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr)));
  return KV_MARK(Map(mapping, FILE_MAP_READ, view));
}

// Ends the new file at the decoded bytes, so that a part kept after a failure holds only
// what arrived.
void CutAt(const HandleHolder& file, std::uint64_t size) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(size);
  if (::SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN)) ::SetEndOfFile(file.Get());
}

}  // namespace

ResultChain FetchPacked(SetSource& source, const ManifestFile& file, const wchar_t* folder, const std::wstring& name,
                        const PackedObject& object, const std::wstring& reference, const std::wstring& target,
                        Digest256& digest, std::uint64_t& received) {
  received = 0;
  if (file.size == 0 || file.size > SIZE_MAX) return KV_MARK(PackedObjectInvalid);
  HandleHolder referenceFile(INVALID_HANDLE_VALUE);
  HandleHolder referenceMapping;
  MappedView referenceView;
  std::uint64_t referenceSize = 0;
  if (!reference.empty()) {
    KV_RETURN_IF_FAILED(MapReference(reference, referenceFile, referenceMapping, referenceView, referenceSize));
  }

  // The definitions are read by whatever scans with them: Users may read this file.
  HandleHolder output(INVALID_HANDLE_VALUE);
  KV_RETURN_IF_FAILED(output.Attach(
      OpenForWriting(target, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, Readers::Users)));
  HandleHolder mapping;
  KV_RETURN_IF_FAILED(
      mapping.Attach(::CreateFileMappingW(output.Get(), nullptr, PAGE_READWRITE, static_cast<DWORD>(file.size >> 32),
                                          static_cast<DWORD>(file.size), nullptr)));
  MappedView view;
  KV_RETURN_IF_FAILED(Map(mapping, FILE_MAP_WRITE, view));

  PackedDecoder decoder;
  KV_RETURN_IF_FAILED(decoder.Start(Bytes(view), static_cast<std::size_t>(file.size), Bytes(referenceView),
                                    static_cast<std::size_t>(referenceSize)));
  Sha256 objectHash;
  ResultChain fetched = source.FetchObject(folder, name, object.size, [&](const char* data, std::size_t size) {
    received += size;
    objectHash.Update(data, size);
    return decoder.Feed(data, size);
  });
  if (!fetched.Failed() && (received != object.size || objectHash.Finish() != object.digest)) {
    fetched = KV_MARK(PackedObjectInvalid);
  }
  if (!fetched.Failed()) fetched = decoder.Finish();
  if (!fetched.Failed()) {
    Sha256 hash;
    hash.Update(Bytes(view), static_cast<std::size_t>(file.size));
    digest = hash.Finish();
    if (!::FlushViewOfFile(view.Get(), 0)) fetched = KV_MARK(LastErrorChain());
  }
  view.Reset();
  (void)mapping.Close();  // the fetch's own outcome is what counts
  if (fetched.Failed()) {
    CutAt(output, decoder.Produced());
    return KV_MARK(fetched);
  }
  // Staged files must be on the disk before the folder that holds them is swapped in.
  if (!::FlushFileBuffers(output.Get())) return KV_MARK(LastErrorChain());
  KV_RETURN_IF_FAILED(output.Close());
  return {};
}

}  // namespace kv::refengine
