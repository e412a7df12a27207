#include "foundation/ResultChain.h"

#include <windows.h>

#include <algorithm>

#include "foundation/ErrorNames.h"
#include "foundation/TextFormat.h"

namespace kv {

bool ResultChain::Contains(ErrorCode code) const {
  return std::find(codes_.begin(), codes_.end(), code) != codes_.end();
}

void ResultChain::Add(ErrorCode code) {
  if (code == 0) {
    codes_.clear();
    return;
  }
  codes_.push_back(code);
}

ResultChain operator+(const ResultChain& a, const ResultChain& b) {
  if (a.codes_.empty()) return {};
  if (b.codes_.empty()) return a;
  ResultChain out;
  out.codes_.reserve(a.codes_.size() + b.codes_.size());
  out.codes_ = b.codes_;
  out.codes_.insert(out.codes_.end(), a.codes_.begin(), a.codes_.end());
  return out;
}

namespace {

std::wstring PieceOf(ErrorCode c) {
  if (IsLineMarker(c)) return FormatText(L"Line(%d)", static_cast<int>(c - LineBase));
  std::wstring text;
  if (IsSystemCode(c)) {
    text = SystemMessageText(c, 0);
    text = ReplaceAll(ReplaceAll(text, L"\n", L""), L"\r", L"");
  } else {
    text = CodeText(c, 0);
  }
  return FormatText(L"0x%X:%s", static_cast<unsigned>(c), text.c_str());
}

}  // namespace

std::wstring ResultChain::ToText() const {
  if (codes_.empty()) return L"0x0:Success";
  std::wstring text;
  for (auto it = codes_.rbegin(); it != codes_.rend(); ++it) {
    text += PieceOf(*it);
    text += L'\n';
  }
  text = ReplaceAll(text, L"\r", L"");
  return ReplaceAll(text, L"\n", L",");
}

ResultChain LastErrorChain() { return ResultChain(static_cast<ErrorCode>(::GetLastError())); }

}  // namespace kv
