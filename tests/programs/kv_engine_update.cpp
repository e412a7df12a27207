// Test helper: one definition update through the service's own scan session.
//
//   kv_engine_update <settings file> [engine library]
//
// Loads the engine (default: ScanEngine.dll beside this program) through kv::ScanSession,
// hands it the settings file's text as the service would, prints the result chain and
// the engine's result text, and exits 0 when definitions were installed, 1 when they
// were already current, 2 when the update failed, 3 on bad arguments or an unreadable
// settings file, 4 when the engine could not be opened.
#include <windows.h>

#include <cstdio>
#include <string>

#include "foundation/ErrorCodes.h"
#include "foundation/FileStream.h"
#include "foundation/TextEncoding.h"
#include "scan/ScanSession.h"

namespace {

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring full(path, n);
  return full.substr(0, full.find_last_of(L'\\'));
}

bool ReadSettings(const wchar_t* path, std::wstring& text) {
  kv::FileStream file;
  std::string bytes;
  if (file.OpenRead(path).Failed() || file.ReadAll(bytes).Failed()) return false;
  return kv::DecodeText(bytes, text).Succeeded();
}

void Print(const std::wstring& text) {
  std::string bytes;
  (void)kv::WideToNarrowWithoutBom(text, bytes);  // what cannot be converted prints as nothing
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring settings;
  if (argc < 2 || !ReadSettings(argv[1], settings)) return 3;
  const std::wstring engine = argc > 2 ? std::wstring(argv[2]) : ProgramFolder() + L"\\ScanEngine.dll";

  kv::ScanSession session;
  if (const kv::ResultChain opened = session.Open(engine); opened.Failed()) {
    Print(opened.ToText());
    return 4;
  }
  std::wstring result;
  const kv::ResultChain update = session.Update(settings, result);
  Print(update.ToText());
  Print(result);
  std::fflush(stdout);
  if (!update.Failed()) return 0;
  return update.Contains(kv::err::AlreadyLastestDefinition) ? 1 : 2;
}
