#include "LoggedResult.h"

#include <windows.h>

#include <cwctype>
#include <vector>

#include "CurrentFolder.h"
#include "foundation/ErrorNames.h"
#include "foundation/FileSystem.h"
#include "foundation/HexDigits.h"
#include "scan/EngineNames.h"
#include "scan/GuardedFolders.h"

namespace kv::tool {

namespace {

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::towlower(text[i]) != std::towlower(prefix[i])) return false;
  }
  return true;
}

// Hexadecimal digits at `at` (1 to 8 of them); `at` moves past them.
bool ReadHex(std::wstring_view text, std::size_t& at, ErrorCode& code) {
  std::size_t digits = 0;
  ErrorCode value = 0;
  while (at < text.size() && HexDigitValue(text[at]) >= 0) {
    if (++digits > 8) return false;
    value = value * 16 + static_cast<ErrorCode>(HexDigitValue(text[at]));
    ++at;
  }
  code = value;
  return digits > 0;
}

// "Line(n)" at `at`, n decimal 0..65535; `at` moves past the ")".
bool ReadLineMarker(std::wstring_view text, std::size_t& at, ErrorCode& code) {
  if (!StartsWithNoCase(text.substr(at), L"Line(")) return false;
  std::size_t p = at + 5;
  unsigned line = 0;
  std::size_t digits = 0;
  while (p < text.size() && text[p] >= L'0' && text[p] <= L'9') {
    if (++digits > 5) return false;
    line = line * 10 + static_cast<unsigned>(text[p] - L'0');
    ++p;
  }
  if (digits == 0 || line > 0xFFFFu || p >= text.size() || text[p] != L')') return false;
  code = LineMarker(line);
  at = p + 1;
  return true;
}

// One token of a code list: "385A0002", "0x385A0002" or "Line(57)".
bool ReadToken(std::wstring_view token, ErrorCode& code) {
  std::size_t at = 0;
  if (ReadLineMarker(token, at, code)) return at == token.size();
  if (StartsWithNoCase(token, L"0x")) at = 2;
  return ReadHex(token, at, code) && at == token.size();
}

// The beginning of a piece of the text form at `at` (after white space): "0x<hex>:" (the
// header of a code, `at` then past the ":") or "Line(n)" followed by a comma or the end
// (`at` then past the ")").
enum class Start { None, Code, Line };

Start ReadPieceStart(std::wstring_view text, std::size_t& at, ErrorCode& code) {
  std::size_t p = at;
  while (p < text.size() && IsSpace(text[p])) ++p;
  if (ReadLineMarker(text, p, code)) {
    std::size_t q = p;
    while (q < text.size() && IsSpace(text[q])) ++q;
    if (q < text.size() && text[q] != L',') return Start::None;
    at = p;
    return Start::Line;
  }
  if (!StartsWithNoCase(text.substr(p), L"0x")) return Start::None;
  p += 2;
  if (!ReadHex(text, p, code) || p >= text.size() || text[p] != L':') return Start::None;
  at = p + 1;
  return Start::Code;
}

// Text that can only have been meant as a piece: "Line(" or "0x<hex digits>:".
bool LooksLikePiece(std::wstring_view text, std::size_t at) {
  while (at < text.size() && IsSpace(text[at])) ++at;
  if (StartsWithNoCase(text.substr(at), L"Line(")) return true;
  if (!StartsWithNoCase(text.substr(at), L"0x")) return false;
  std::size_t p = at + 2;
  while (p < text.size() && HexDigitValue(text[p]) >= 0) ++p;
  return p > at + 2 && p < text.size() && text[p] == L':';
}

}  // namespace

// Codes separated by white space or commas.
bool ParseCodeList(std::wstring_view text, std::vector<ChainPiece>& pieces, std::wstring& bad) {
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && (IsSpace(text[at]) || text[at] == L',')) ++at;
    if (at >= text.size()) break;
    std::size_t end = at;
    while (end < text.size() && !IsSpace(text[end]) && text[end] != L',') ++end;
    ChainPiece piece;
    if (!ReadToken(text.substr(at, end - at), piece.code)) {
      bad = text.substr(at, end - at);
      return false;
    }
    pieces.push_back(piece);
    at = end;
  }
  return true;
}

// The text form the service writes: "0x%X:text," and "Line(n)," pieces, perhaps after
// "Result=". A message may itself hold commas: a piece's text runs to the next comma that
// is followed by another piece or by the end.
bool ParseChainText(std::wstring_view text, std::vector<ChainPiece>& pieces, std::wstring& bad) {
  for (std::size_t i = 0; i + 7 <= text.size(); ++i) {
    if (StartsWithNoCase(text.substr(i), L"Result=")) {
      text = text.substr(i + 7);
      break;
    }
  }
  std::size_t at = 0;
  for (;;) {
    while (at < text.size() && IsSpace(text[at])) ++at;
    if (at >= text.size()) return true;
    ChainPiece piece;
    std::size_t p = at;
    const Start start = ReadPieceStart(text, p, piece.code);
    if (start == Start::None) {
      bad = text.substr(at, 60);
      return false;
    }
    if (start == Start::Line) {
      while (p < text.size() && IsSpace(text[p])) ++p;
      at = p < text.size() ? p + 1 : p;  // past the comma
      pieces.push_back(piece);
      continue;
    }
    // The code's text: up to a comma that ends it.
    std::size_t end = p;
    for (;;) {
      end = text.find(L',', end);
      if (end == std::wstring_view::npos) {
        end = text.size();
        break;
      }
      std::size_t next = end + 1;
      ErrorCode ignored = 0;
      std::size_t rest = next;
      while (rest < text.size() && IsSpace(text[rest])) ++rest;
      if (rest >= text.size() || ReadPieceStart(text, next, ignored) != Start::None) break;
      // A malformed marker or code ("Line(99999)", "0x123456789:") is not message text.
      if (LooksLikePiece(text, rest)) {
        bad = text.substr(rest, 60);
        return false;
      }
      ++end;
    }
    piece.logged = true;
    piece.loggedText = text.substr(p, end - p);
    while (!piece.loggedText.empty() && IsSpace(piece.loggedText.back())) piece.loggedText.pop_back();
    pieces.push_back(piece);
    at = end < text.size() ? end + 1 : end;
  }
}

// One piece as ResultChain::ToText writes it, without the separating comma.
std::wstring PieceText(ErrorCode code) {
  std::wstring text = ResultChain(code).ToText();
  if (!text.empty() && text.back() == L',') text.pop_back();
  return text;
}

std::wstring ToolFolder() {
  std::vector<wchar_t> buffer(32768);
  const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  std::wstring path(buffer.data(), n);
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// The library's code names joined to the name map, as the service joins them, with its
// folder current while it loads. A library in a folder others may write in is not loaded:
// kvtool often runs as SYSTEM or an administrator, and names are not worth running a
// stranger's code for.
ResultChain MergeEngineNames(const std::wstring& path) {
  UnsafeFolder unsafe;
  KV_RETURN_IF_FAILED(CheckGuardedFolders({{NormalizePath(path + L"\\.."), true}}, unsafe));
  const CurrentFolderScope folder(path + L"\\..\\");
  KV_RETURN_IF_FAILED(MergeLibraryNames(path));
  return {};
}

}  // namespace kv::tool
