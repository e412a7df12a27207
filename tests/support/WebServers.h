// The web servers a ctest fixture started for this build (tests/support/http-fixture):
// nginx on "localhost" (plain, HTTPS trusted by the machine, HTTPS from an unknown CA),
// tinyproxy on "127.0.0.1" with BasicAuth and without, and the scripted fault server. Different
// host names for proxy and server matter: WinHTTP compares names to decide whether a
// request goes to a proxy.
#pragma once

#include <string>
#include <vector>

namespace kv::test {

struct WebServers {
  bool ready = false;
  unsigned httpPort = 0, httpsPort = 0, untrustedPort = 0, faultPort = 0, proxyPort = 0, openProxyPort = 0;
  std::wstring proxyUser, proxyPass;
  std::wstring wwwRoot;  // nginx's document root, as a Windows path
  std::wstring accessLog, proxyLog, openProxyLog;
  std::wstring faultRequests;  // what the fault server received

  // "http://localhost:<port>/<path>" and its kin; `path` has no leading "/".
  std::wstring Http(const std::wstring& path) const;
  std::wstring Https(const std::wstring& path) const;
  std::wstring UntrustedHttps(const std::wstring& path) const;
  // "http://localhost:<fault port>/<fault>/<path>" (drop, stall, endless, trickle,
  // ask407, ask401, moved401).
  std::wstring Fault(const std::wstring& fault, const std::wstring& path) const;
  std::wstring Proxy() const;
  std::wstring OpenProxy() const;  // asks for no account
  // The document root's folder for `path` ("a/b" -> "<root>\a\b").
  std::wstring Folder(const std::wstring& path) const;
};

// Read once from "<build>\http\endpoints.ini"; not ready when the fixture did not run.
const WebServers& Servers();

// One request in nginx's access log.
struct AccessEntry {
  std::string method, uri;
  int status = 0;
  long long bytes = 0;
};

// The access log's requests for URIs that begin with `prefix` ("/case/"), in order.
std::vector<AccessEntry> AccessLog(const std::string& prefix);

// The requests the fault server received whose path holds `part`, each as its request
// line's method and path and then its headers, tab-separated.
std::vector<std::string> FaultRequests(const std::string& part);

// The requests for `prefix` after the first `from`, once there are at least `count`
// of them (nginx writes a line just after the response, so a client can be done first),
// as "uri status bytes"; what there is after ten seconds otherwise.
std::vector<std::string> RequestsAfter(const std::string& prefix, std::size_t from, std::size_t count);

}  // namespace kv::test
