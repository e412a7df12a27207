// "kvtool explain": the codes of a "Result" from a log, each in the text form the service
// writes (ResultChain::ToText), and how to read a chain.
//
//   kvtool explain 385A0002 0x20000039             codes in hexadecimal, root cause first
//   kvtool explain "0x385A0002:InvalidNextTime,Line(57),"
//   kvtool explain "Result=0x2:The system cannot find the file specified.,Line(40),"
//
// The reference engine's own codes are named by its "ReadErrorTable", merged into the
// name map as the service merges them (AppContext.cpp, MergeLibraryNames).
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "Commands.h"
#include "ConsoleOutput.h"
#include "LoggedResult.h"
#include "ToolSupport.h"
#include "foundation/ErrorNames.h"
#include "foundation/TextFormat.h"
#include "foundation/FileSystem.h"

namespace kv::tool {

namespace {

constexpr wchar_t kCommand[] = L"explain";
constexpr wchar_t kUsage[] =
    L"usage: kvtool explain [--engine <ScanEngine.dll>] <hex code> [<hex code>...]\n"
    L"       kvtool explain [--engine <ScanEngine.dll>] \"<Result text>\"\n"
    L"  codes in hexadecimal (0x optional), separated by spaces or commas, root cause first;\n"
    L"  or a logged value such as \"0x385A0002:InvalidNextTime,Line(57),\" or a whole \"Result=...\" line.\n";

// What kind of code it is, for the reading notes.
std::wstring KindOf(ErrorCode code) {
  if (code == 0) return L"success (no failure)";
  if (IsLineMarker(code)) {
    return FormatText(L"a place the failure passed: line %u of the source that handled it", code - LineBase);
  }
  if (IsSystemCode(code)) {
    return code <= 0xFFFFu ? FormatText(L"a Windows system code (%u), with the system's message", code)
                           : std::wstring(L"a Windows system code, with the system's message");
  }
  const ErrorCode family = code & 0xFFFF0000u;
  const std::wstring name = CodeName(family);
  return FormatText(L"code 0x%X of family 0x%X (%s)", code & 0xFFFFu, family,
                    name == L"InvalidEnumValue" ? L"a family without a name here" : name.c_str());
}

}  // namespace

int RunExplain(const Arguments& arguments) {
  std::wstring enginePath;
  bool engineGiven = false;
  std::wstring input;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (argument == L"--engine") {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) return Complain(kCommand, L"--engine needs a path", 2);
      enginePath = arguments[++i];
      engineGiven = true;
    } else if (argument.rfind(L"--engine=", 0) == 0) {
      enginePath = argument.substr(9);
      if (enginePath.empty()) return Complain(kCommand, L"--engine needs a path", 2);
      engineGiven = true;
    } else {
      if (!input.empty()) input += L' ';
      input += argument;
    }
  }
  if (input.find_first_not_of(L" \t\r\n") == std::wstring::npos) {
    WriteError(kUsage);
    return 2;
  }

  // A colon only ever appears in the text form; plain codes never hold one.
  std::vector<ChainPiece> pieces;
  std::wstring bad;
  const bool chainText = input.find(L':') != std::wstring::npos;
  if (!(chainText ? ParseChainText(input, pieces, bad) : ParseCodeList(input, pieces, bad))) {
    return Complain(kCommand,
                    L"cannot read a code at \"" + bad +
                        L"\": give codes in hexadecimal (385A0002 or 0x385A0002) or a logged value "
                        L"such as \"0x385A0002:InvalidNextTime,Line(57),\"",
                    2);
  }
  if (pieces.empty()) return Complain(kCommand, L"no code given", 2);

  // The engine's names, as the service would have them.
  std::wstring namesFrom;
  if (!engineGiven) {
    const std::wstring beside = ToolFolder() + L"\\ScanEngine.dll";
    if (::GetFileAttributesW(LongPathForm(beside).c_str()) != INVALID_FILE_ATTRIBUTES) enginePath = beside;
  }
  if (!enginePath.empty()) {
    enginePath = FullPathOf(enginePath);
    if (const ResultChain merged = MergeEngineNames(enginePath); merged.Failed()) {
      const std::wstring message =
          L"the code names of " + enginePath + L" could not be merged: " + merged.ToText();
      if (engineGiven) return Complain(kCommand, message, 1);
      Complain(kCommand, message + L" (going on with the built-in names)", 0);
    } else {
      namesFrom = enginePath;
    }
  }

  std::wstring out;
  for (const ChainPiece& piece : pieces) {
    const std::wstring text = PieceText(piece.code);
    out += text + L"\n";
    const std::size_t colon = text.find(L':');
    if (piece.logged && colon != std::wstring::npos && text.substr(colon + 1) != piece.loggedText) {
      out += L"    (the log says: " + piece.loggedText + L")\n";
    }
  }

  // The same chain in the service's own form: stored root cause last.
  ResultChain chain;
  for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
    if (it->code != 0) chain.Add(it->code);
  }
  out += L"\nHow to read it: the first line is the root cause, the failure itself. The lines after it\n"
         L"follow the failure outwards through the places it passed: each Line(n) is a line of the\n"
         L"source that passed it on, and a code between the markers says what was being done there\n"
         L"(a step such as UpdateUncIni, or the setting concerned). The log writes the same chain on\n"
         L"one line, pieces separated by commas:\n"
         L"  Result=" + chain.ToText() + L"\n"
         L"Codes:\n";
  for (const ChainPiece& piece : pieces) {
    out += FormatText(L"  %-12s %s\n", IsLineMarker(piece.code) ? PieceText(piece.code).c_str()
                                                                 : FormatText(L"0x%X", piece.code).c_str(),
                      KindOf(piece.code).c_str());
  }
  out += namesFrom.empty() ? std::wstring(L"Engine code names: not loaded (no engine library; see --engine)\n")
                           : L"Engine code names: from " + namesFrom + L"\n";
  WriteOut(out);
  return 0;
}

}  // namespace kv::tool
