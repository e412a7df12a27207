// One definition update through the reference engine, timed and watched from inside the
// process, for scripts/bench's HTTP measurements.
//
//   kv_bench_http <settings file>
//
// Loads ScanEngine.dll beside this program through the service's own scan session, reads
// the process's private bytes, runs the update while a thread samples them every 10 ms,
// and prints, one per line: "update_ms", "private_before", "private_peak" (bytes),
// "result" (the chain) and the result text's "FetchedFiles" and "FetchedBytes".
// Exits 0 on an installation or an already-current set, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <string>

#include "ProcessProbe.h"
#include "config/IniDocument.h"
#include "foundation/ErrorCodes.h"
#include "foundation/FileStream.h"
#include "foundation/TextEncoding.h"
#include "scan/ScanSession.h"
#include "support/WinTestUtil.h"

namespace {

struct Sampler {
  HANDLE started = nullptr;
  HANDLE stop = nullptr;
  std::uint64_t before = 0;
  std::uint64_t peak = 0;
};

// The first sample, taken once this thread exists (its own stack is not the update's),
// is the figure before the update.
DWORD WINAPI Sample(void* parameter) {
  auto* sampler = static_cast<Sampler*>(parameter);
  const kv::bench::ProcessProbe self(::GetCurrentProcessId());
  sampler->before = sampler->peak = self.Memory().privateBytes;
  ::SetEvent(sampler->started);
  while (::WaitForSingleObject(sampler->stop, 10) == WAIT_TIMEOUT) {
    const std::uint64_t now = self.Memory().privateBytes;
    if (now > sampler->peak) sampler->peak = now;
  }
  return 0;
}

std::string Narrow(const std::wstring& text) {
  std::string bytes;
  (void)kv::WideToNarrowWithoutBom(text, bytes);  // for printing: what cannot be converted prints as nothing
  return bytes;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  kv::FileStream file;
  std::string bytes;
  std::wstring settings;
  if (file.OpenRead(argv[1]).Failed() || file.ReadAll(bytes).Failed() || kv::DecodeText(bytes, settings).Failed()) {
    return 2;
  }
  kv::ScanSession session;
  if (session.Open(kv::test::ProgramFolder() + L"\\ScanEngine.dll").Failed()) return 2;

  Sampler sampler;
  sampler.started = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  sampler.stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = ::CreateThread(nullptr, 0, Sample, &sampler, 0, nullptr);
  ::WaitForSingleObject(sampler.started, INFINITE);
  LARGE_INTEGER frequency{}, start{}, end{};
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  std::wstring result;
  const kv::ResultChain update = session.Update(settings, result);
  ::QueryPerformanceCounter(&end);
  ::SetEvent(sampler.stop);
  ::WaitForSingleObject(thread, INFINITE);
  ::CloseHandle(thread);
  ::CloseHandle(sampler.stop);
  ::CloseHandle(sampler.started);

  kv::IniDocument text(result);
  std::printf("update_ms %.1f\nprivate_before %llu\nprivate_peak %llu\nresult %s\nfetched_files %s\nfetched_bytes %s\n",
              1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart),
              static_cast<unsigned long long>(sampler.before), static_cast<unsigned long long>(sampler.peak),
              Narrow(update.ToText()).c_str(), Narrow(text.GetString(L"FetchedFiles", L"0", L"ScannerVersion")).c_str(),
              Narrow(text.GetString(L"FetchedBytes", L"0", L"ScannerVersion")).c_str());
  (void)session.Close();  // the update's outcome is the answer
  return kv::DefinitionsCurrent(update) ? 0 : 1;
}
