// The floor of an HTTP install: the same files fetched with nothing but WinHTTP, for
// scripts/bench to hold the reference engine's first install against. One session and
// one connection kept alive, each body read as the engine reads it (query what is
// available, read at most 1 MiB), written to a new file and hashed once on the way, then
// flushed to the disk. No signature, no staging folder, no swap: what is left is what
// any updater pays.
//
//   kv_bench_winhttp <base url> <folder> [name ...]
//
// Without names, fetches defset.ini and defset.sig first and then every file the
// manifest's [Files] section lists, as an install does. Prints, one per
// line: "file <name> <bytes> <sha256>" for each file, then "elapsed_ms" (from opening the
// session to the last flush, inside this process), "files" and "bytes".
// Exits 0 when every request answered 200 and every file was written, 1 otherwise.
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "HttpClient.h"
#include "HttpCodes.h"
#include "config/IniDocument.h"
#include "foundation/ErrorCodes.h"
#include "foundation/HexDigits.h"
#include "kernel/HandleHolder.h"
#include "protect/Sha256.h"

namespace {

using kv::ResultChain;
using kv::refengine::HttpStatusCode;
using kv::refengine::InternetHandle;
using kv::refengine::WinHttpCode;

constexpr DWORD kChunkBytes = 1024 * 1024;

struct Fetched {
  std::uint64_t bytes = 0;
  kv::Digest256 digest{};
  std::string body;  // kept only when asked (the manifest)
};

std::string Hex(const kv::Digest256& digest) {
  std::string text;
  for (const std::uint8_t byte : digest) {
    text += static_cast<char>(kv::LowerHexDigit(byte >> 4));
    text += static_cast<char>(kv::LowerHexDigit(byte & 15));
  }
  return text;
}

// The chain of a WinHTTP call that failed just now, in the engine's family.
ResultChain WinHttpError() { return ResultChain(WinHttpCode(::GetLastError())); }

ResultChain WriteChunk(const kv::HandleHolder& file, const char* data, DWORD size) {
  DWORD written = 0;
  if (!::WriteFile(file.Get(), data, size, &written, /*lpOverlapped=*/nullptr)) return KV_MARK(kv::LastErrorChain());
  if (written != size) return KV_MARK(kv::err::WriteError);
  return {};
}

// GET base path + name on the kept-alive connection into folder\name.
ResultChain Fetch(HINTERNET connection, const std::wstring& basePath, const std::wstring& folder,
                  const std::wstring& name, std::vector<char>& chunk, bool keepBody, Fetched& fetched) {
  const std::wstring path = basePath + name;
  const InternetHandle request(::WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                                    WINHTTP_DEFAULT_ACCEPT_TYPES, /*dwFlags=*/0));
  if (!request.IsOpen()) return KV_MARK(WinHttpError());
  if (!::WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !::WinHttpReceiveResponse(request.Get(), nullptr)) {
    return KV_MARK(WinHttpError());
  }
  DWORD status = 0, size = sizeof(status);
  if (!::WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return KV_MARK(WinHttpError());
  }
  if (status != HTTP_STATUS_OK) return KV_MARK(HttpStatusCode(status));
  kv::HandleHolder file(INVALID_HANDLE_VALUE);
  KV_RETURN_IF_FAILED(file.Attach(::CreateFileW((folder + L"\\" + name).c_str(), GENERIC_WRITE, /*dwShareMode=*/0,
                                                /*lpSecurityAttributes=*/nullptr, CREATE_ALWAYS,
                                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                                /*hTemplateFile=*/nullptr)));
  kv::Sha256 hash;
  for (;;) {
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(request.Get(), &available)) return KV_MARK(WinHttpError());
    if (available == 0) break;
    DWORD got = 0;
    if (!::WinHttpReadData(request.Get(), chunk.data(), available < kChunkBytes ? available : kChunkBytes, &got)) {
      return KV_MARK(WinHttpError());
    }
    if (got == 0) break;
    hash.Update(chunk.data(), got);
    KV_RETURN_IF_FAILED(WriteChunk(file, chunk.data(), got));
    if (keepBody) fetched.body.append(chunk.data(), got);
    fetched.bytes += got;
  }
  fetched.digest = hash.Finish();
  if (!::FlushFileBuffers(file.Get())) return KV_MARK(kv::LastErrorChain());
  KV_RETURN_IF_FAILED(file.Close());
  return {};
}

// Says what failed, and on which file.
int Failure(const std::wstring& name, const ResultChain& failed) {
  std::fprintf(stderr, "%ls: %ls\n", name.c_str(), failed.ToText().c_str());
  return 1;
}

// The names [Files] lists (in name order: the order does not change the cost).
std::vector<std::wstring> ListedNames(const std::string& manifest) {
  kv::IniDocument document;
  (void)document.ParseBytes(manifest);  // nothing parsed lists no names
  std::vector<std::wstring> names;
  for (const kv::IniSection& section : document.Sections()) {
    if (!kv::IniCompare(section.Name(), L"Files")) continue;
    for (const auto& entry : section.GetEntries()) names.push_back(entry.first);
  }
  return names;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: kv_bench_winhttp <base url> <folder> [name ...]\n");
    return 2;
  }
  std::wstring url = argv[1];
  if (url.empty() || url.back() != L'/') url += L'/';
  const std::wstring folder = argv[2];
  std::wstring host(256, L'\0'), basePath(2048, L'\0');
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host.data();
  parts.dwHostNameLength = static_cast<DWORD>(host.size());
  parts.lpszUrlPath = basePath.data();
  parts.dwUrlPathLength = static_cast<DWORD>(basePath.size());
  if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
      parts.nScheme != INTERNET_SCHEME_HTTP) {
    std::fprintf(stderr, "not a plain http:// address: %ls\n", url.c_str());
    return 2;
  }
  host.resize(parts.dwHostNameLength);
  basePath.resize(parts.dwUrlPathLength);
  ::CreateDirectoryW(folder.c_str(), nullptr);

  std::vector<char> chunk(kChunkBytes);
  LARGE_INTEGER frequency{}, start{}, end{};
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  const InternetHandle session(::WinHttpOpen(L"kv_bench_winhttp", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                             WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.IsOpen()) return Failure(L"WinHttpOpen", WinHttpError());
  const InternetHandle connection(::WinHttpConnect(session.Get(), host.c_str(), parts.nPort, 0));
  if (!connection.IsOpen()) return Failure(L"WinHttpConnect", WinHttpError());

  std::vector<std::wstring> names(argv + 3, argv + argc);
  std::vector<std::pair<std::wstring, Fetched>> done;
  if (names.empty()) {
    for (const wchar_t* name : {L"defset.ini", L"defset.sig"}) {
      Fetched fetched;
      if (const ResultChain got = Fetch(connection.Get(), basePath, folder, name, chunk, true, fetched); got.Failed()) {
        return Failure(name, got);
      }
      done.emplace_back(name, std::move(fetched));
    }
    names = ListedNames(done.front().second.body);
    if (names.empty()) {
      std::fprintf(stderr, "the manifest lists no files\n");
      return 1;
    }
  }
  for (const std::wstring& name : names) {
    Fetched fetched;
    if (const ResultChain got = Fetch(connection.Get(), basePath, folder, name, chunk, false, fetched); got.Failed()) {
      return Failure(name, got);
    }
    done.emplace_back(name, std::move(fetched));
  }
  ::QueryPerformanceCounter(&end);

  std::uint64_t total = 0;
  for (const auto& [name, fetched] : done) {
    std::printf("file %ls %llu %s\n", name.c_str(), static_cast<unsigned long long>(fetched.bytes),
                Hex(fetched.digest).c_str());
    total += fetched.bytes;
  }
  std::printf("elapsed_ms %.1f\nfiles %zu\nbytes %llu\n",
              1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart),
              done.size(), static_cast<unsigned long long>(total));
  return 0;
}
