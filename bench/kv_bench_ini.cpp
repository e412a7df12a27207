// Times the INI reader, lookups and writer on texts of growing size, to show that the
// cost grows in proportion to the text (no quadratic step). Prints one table; asserts
// nothing.
#include <windows.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "config/IniDocument.h"
#include "foundation/TextEncoding.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A permutation of 0..n-1 that is far from sorted, so keys arrive in no useful order.
std::vector<unsigned> Scrambled(unsigned n) {
  std::vector<unsigned> order(n);
  unsigned x = 12345;
  for (unsigned i = 0; i < n; ++i) order[i] = i;
  for (unsigned i = n; i > 1; --i) {
    x = x * 1103515245u + 12345u;
    std::swap(order[i - 1], order[(x >> 8) % i]);
  }
  return order;
}

// The other letter case of the letters the generated names use.
std::wstring SwapCase(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 32);
    else if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    else if (c == 0x00C4) c = 0x00E4;
    else if (c == 0x0416) c = 0x0436;
    else if (c == 0x03A3) c = 0x03C3;
  }
  return text;
}

struct Scenario {
  const char* name;
  // Section name to write as a header before key line i, or empty for none.
  std::wstring (*header)(unsigned i);
  std::wstring (*key)(unsigned k);
};

std::wstring AsciiKey(unsigned k) { return L"Key" + std::to_wstring(k); }
// Non-ASCII letters take the runtime's locale-aware case mapping.
std::wstring WideKey(unsigned k) { return L"\x00C4\x0416\x03A3" + std::to_wstring(k); }

std::wstring EveryHundred(unsigned i) { return i % 100 == 0 ? L"Section" + std::to_wstring(i / 100) : L""; }
std::wstring OnlyFirst(unsigned i) { return i == 0 ? L"All" : L""; }
std::wstring EveryKey(unsigned i) { return L"S" + std::to_wstring(i); }
// Headers that keep switching between 1000 sections in varying letter case, so most key
// lines merge into an existing section.
std::wstring Alternating(unsigned i) { return (i % 2 ? L"sEcTiOn" : L"SECTION") + std::to_wstring(i % 1000); }

struct Input {
  std::string bytes;
  std::vector<std::pair<std::wstring, std::wstring>> probes;  // section, key in other case
};

Input Build(const Scenario& s, unsigned n) {
  Input input;
  std::wstring text;
  std::wstring current;
  const std::vector<unsigned> order = Scrambled(n);
  for (unsigned i = 0; i < n; ++i) {
    const std::wstring header = s.header(i);
    if (!header.empty()) {
      text += L"[" + header + L"]\r\n";
      current = header;
    }
    const std::wstring key = s.key(order[i]);
    text += key + L"=value of some length " + std::to_wstring(order[i]) + L"\r\n";
    input.probes.emplace_back(SwapCase(current), SwapCase(key));
  }
  std::string utf8;
  (void)kv::WideToNarrow(text, CP_UTF8, 0, utf8);  // generated text: always converts
  input.bytes = "\xEF\xBB\xBF" + utf8;
  return input;
}

}  // namespace

int main() {
  // As the service does: the runtime's case mapping follows the system's settings.
  std::setlocale(LC_ALL, "");
  const Scenario scenarios[] = {
      {"100 keys a section", EveryHundred, AsciiKey},
      {"one section", OnlyFirst, AsciiKey},
      {"a section a key", EveryKey, AsciiKey},
      {"merging headers", Alternating, AsciiKey},
      {"non-ASCII keys", EveryHundred, WideKey},
  };
  std::printf("locale: %s\n", std::setlocale(LC_CTYPE, nullptr));
  std::printf("%-19s %7s %9s %9s %10s %9s %8s %7s\n", "text", "keys", "bytes", "parse ms", "lookup ms", "write ms",
              "ns/key", "found");
  for (const Scenario& s : scenarios) {
    for (unsigned n : {1000u, 10000u, 100000u}) {
      const Input input = Build(s, n);
      kv::IniDocument doc;
      Clock::time_point start = Clock::now();
      const kv::ResultChain parsed = doc.ParseBytes(input.bytes);
      const double parseMs = MillisecondsSince(start);
      if (parsed.Failed()) {
        std::printf("%-19s parse failed\n", s.name);
        return 1;
      }
      unsigned found = 0;
      start = Clock::now();
      for (const auto& [section, key] : input.probes) {
        if (!doc.GetString(key, L"", section).empty()) ++found;
      }
      const double lookupMs = MillisecondsSince(start);
      start = Clock::now();
      const std::wstring written = doc.ToText();
      const double writeMs = MillisecondsSince(start);
      std::printf("%-19s %7u %9zu %9.1f %10.1f %9.1f %8.0f %7u\n", s.name, n, input.bytes.size(), parseMs, lookupMs,
                  writeMs, (parseMs + lookupMs + writeMs) * 1e6 / n, found);
    }
  }
  return 0;
}
