#include "support/WebServers.h"

#include <windows.h>

#include <sstream>

#include "config/IniDocument.h"
#include "support/WinTestUtil.h"

namespace kv::test {

namespace {

std::wstring Url(const wchar_t* scheme, unsigned port, const std::wstring& path) {
  return std::wstring(scheme) + L"://localhost:" + std::to_wstring(port) + L"/" + path;
}

WebServers Load() {
  const std::wstring folder = ProgramFolder();
  const std::wstring build = folder.substr(0, folder.find_last_of(L'\\'));
  const std::string bytes = ReadFileBytes(build + L"\\http\\endpoints.ini");
  WebServers servers;
  if (bytes.empty()) return servers;
  IniDocument ini;
  if (ini.ParseBytes(bytes).Failed()) return servers;
  const auto port = [&ini](const wchar_t* key) { return static_cast<unsigned>(ini.GetInt(key, 0, 10, L"Http")); };
  servers.httpPort = port(L"HttpPort");
  servers.httpsPort = port(L"HttpsPort");
  servers.untrustedPort = port(L"UntrustedHttpsPort");
  servers.faultPort = port(L"FaultPort");
  servers.proxyPort = port(L"ProxyPort");
  servers.openProxyPort = port(L"OpenProxyPort");
  servers.proxyUser = ini.GetString(L"ProxyUser", {}, L"Http");
  servers.proxyPass = ini.GetString(L"ProxyPass", {}, L"Http");
  servers.wwwRoot = ini.GetString(L"WwwRoot", {}, L"Http");
  servers.accessLog = ini.GetString(L"AccessLog", {}, L"Http");
  servers.proxyLog = ini.GetString(L"ProxyLog", {}, L"Http");
  servers.openProxyLog = ini.GetString(L"OpenProxyLog", {}, L"Http");
  servers.faultRequests = ini.GetString(L"FaultRequests", {}, L"Http");
  servers.ready = servers.httpPort != 0 && !servers.wwwRoot.empty();
  return servers;
}

}  // namespace

std::wstring WebServers::Http(const std::wstring& path) const { return Url(L"http", httpPort, path); }
std::wstring WebServers::Https(const std::wstring& path) const { return Url(L"https", httpsPort, path); }
std::wstring WebServers::UntrustedHttps(const std::wstring& path) const {
  return Url(L"https", untrustedPort, path);
}
std::wstring WebServers::Fault(const std::wstring& fault, const std::wstring& path) const {
  return Url(L"http", faultPort, fault + L"/" + path);
}
std::wstring WebServers::Proxy() const { return L"127.0.0.1:" + std::to_wstring(proxyPort); }
std::wstring WebServers::OpenProxy() const { return L"127.0.0.1:" + std::to_wstring(openProxyPort); }

std::wstring WebServers::Folder(const std::wstring& path) const {
  std::wstring folder = wwwRoot;
  for (wchar_t c : L"\\" + path) folder += c == L'/' ? L'\\' : c;
  while (folder.back() == L'\\') folder.pop_back();
  return folder;
}

const WebServers& Servers() {
  static const WebServers servers = Load();
  return servers;
}

std::vector<AccessEntry> AccessLog(const std::string& prefix) {
  std::vector<AccessEntry> entries;
  std::istringstream lines(ReadFileBytes(Servers().accessLog));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    AccessEntry entry;
    if (fields >> entry.method >> entry.uri >> entry.status >> entry.bytes && entry.uri.rfind(prefix, 0) == 0) {
      entries.push_back(entry);
    }
  }
  return entries;
}

std::vector<std::string> FaultRequests(const std::string& part) {
  std::vector<std::string> lines;
  std::istringstream all(ReadFileBytes(Servers().faultRequests));
  for (std::string line; std::getline(all, line);) {
    if (line.find(part) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> RequestsAfter(const std::string& prefix, std::size_t from, std::size_t count) {
  const ULONGLONG deadline = ::GetTickCount64() + 10000;
  std::vector<AccessEntry> entries = AccessLog(prefix);
  while (entries.size() < from + count && ::GetTickCount64() < deadline) {
    ::Sleep(20);
    entries = AccessLog(prefix);
  }
  std::vector<std::string> lines;
  for (std::size_t i = from; i < entries.size(); ++i) {
    lines.push_back(entries[i].uri + " " + std::to_string(entries[i].status) + " " + std::to_string(entries[i].bytes));
  }
  return lines;
}

}  // namespace kv::test
