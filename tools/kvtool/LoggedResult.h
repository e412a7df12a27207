// Reading a logged "Result" as the service writes it (ResultChain::ToText): its codes,
// root cause first, each printed again from its number, with the engine's own code names
// merged as the service merges them. kvtool explain and kvtool status read Results so.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "foundation/ResultChain.h"

namespace kv::tool {

// One code as read from the input, with the text the log gave for it (if any).
struct ChainPiece {
  ErrorCode code = 0;
  bool logged = false;
  std::wstring loggedText;
};

// Codes in hexadecimal ("385A0002", "0x385A0002") or "Line(n)", separated by white space
// or commas. False with the offending token in `bad`.
bool ParseCodeList(std::wstring_view text, std::vector<ChainPiece>& pieces, std::wstring& bad);

// The text form the service writes, "0x%X:text," and "Line(n)," pieces, perhaps after
// "Result=". False with the text where reading stopped in `bad`.
bool ParseChainText(std::wstring_view text, std::vector<ChainPiece>& pieces, std::wstring& bad);

// One piece as ResultChain::ToText writes it, without the separating comma.
std::wstring PieceText(ErrorCode code);

// The folder of kvtool.exe, without a trailing separator.
std::wstring ToolFolder();

// The code names of a scan-engine library joined to the name map, as the service joins
// them at start.
ResultChain MergeEngineNames(const std::wstring& path);

}  // namespace kv::tool
