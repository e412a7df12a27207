#include "StatusService.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <vector>

#include "foundation/ResultChain.h"
#include "foundation/ServiceName.h"
#include "foundation/TextFormat.h"
#include "kernel/ScmHandle.h"
#include "protect/ResourceFile.h"

namespace kv::tool {

namespace {

const wchar_t* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED:
      return L"stopped";
    case SERVICE_START_PENDING:
      return L"starting";
    case SERVICE_STOP_PENDING:
      return L"stopping";
    case SERVICE_RUNNING:
      return L"running";
    case SERVICE_CONTINUE_PENDING:
      return L"continuing";
    case SERVICE_PAUSE_PENDING:
      return L"pausing";
    case SERVICE_PAUSED:
      return L"paused";
    default:
      return L"in an unknown state";
  }
}

// The program of a service's command line: the quoted part, or up to ".exe".
std::wstring ProgramOfCommandLine(const std::wstring& line) {
  if (!line.empty() && line[0] == L'"') {
    const std::size_t close = line.find(L'"', 1);
    return line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
  }
  for (std::size_t at = 0; at + 4 <= line.size(); ++at) {
    if (_wcsnicmp(line.c_str() + at, L".exe", 4) == 0) return line.substr(0, at + 4);
  }
  return line;
}

}  // namespace

ServiceFacts AskServiceManager() {
  ServiceFacts facts;
  const ScmHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager.IsOpen()) {
    facts.failure = L"the service control manager cannot be asked: " + LastErrorChain().ToText();
    return facts;
  }
  const ScmHandle service(::OpenServiceW(manager.Get(), kServiceNameWide, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
  if (!service.IsOpen()) {
    if (::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
      facts.known = true;
      facts.state = L"not installed";
    } else {
      facts.failure = L"the service cannot be asked: " + LastErrorChain().ToText();
    }
    return facts;
  }
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(service.Get(), &status)) {
    facts.failure = L"the service's state cannot be read: " + LastErrorChain().ToText();
    return facts;
  }
  facts.known = facts.installed = true;
  facts.running = status.dwCurrentState == SERVICE_RUNNING;
  facts.state = StateName(status.dwCurrentState);
  DWORD needed = 0;
  ::QueryServiceConfigW(service.Get(), nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed > 0 ? needed : sizeof(QUERY_SERVICE_CONFIGW));
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (::QueryServiceConfigW(service.Get(), config, static_cast<DWORD>(buffer.size()), &needed) &&
      config->lpBinaryPathName != nullptr) {
    facts.program = ProgramOfCommandLine(config->lpBinaryPathName);
  }
  return facts;
}

// Read as a plain resource: the system's version functions take several times as long as
// all the rest.
std::wstring ProgramVersion(const std::wstring& program) {
  ResourceFile file;
  file.SetResourceType(ResourceName(static_cast<int>(reinterpret_cast<std::uintptr_t>(RT_VERSION))));
  std::vector<std::uint8_t> bytes;
  if (file.Open(program).Failed() ||
      (file.Read(ResourceName(VS_VERSION_INFO), LANG_NEUTRAL, bytes).Failed() &&
       file.Read(ResourceName(VS_VERSION_INFO), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), bytes).Failed())) {
    return {};
  }
  // The fixed part starts with its signature, on a four-byte boundary.
  for (std::size_t at = 0; at + sizeof(VS_FIXEDFILEINFO) <= bytes.size(); at += 4) {
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, bytes.data() + at, sizeof info);
    if (info.dwSignature != VS_FFI_SIGNATURE) continue;
    return FormatText(L"%u.%u.%u", HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                      HIWORD(info.dwFileVersionLS));
  }
  return {};
}

}  // namespace kv::tool
