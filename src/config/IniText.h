// Small text helpers of the INI model that other code calls directly: the name match
// of sections and keys, splitting at a set of delimiters and lenient number reading.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// True when a and b have the same length and every pair of code units is equal without
// regard to case (the C runtime's towlower in the current locale; A-Z always match a-z).
// Embedded U+0000 units are compared like any other unit.
bool IniCompare(std::wstring_view a, std::wstring_view b);

// The case-folded form of a text: IniCompare(a, b) holds exactly when IniFold(a) ==
// IniFold(b) under the same locale. Indexes key on it.
std::wstring IniFold(std::wstring_view text);

// A name for the C runtime's current case-mapping locale of this thread. Folded forms
// made under one stamp are comparable only with forms made under the same stamp.
const char* IniFoldStamp();

// Splits at every code unit that occurs in `delimiters`; each one ends a piece (which
// may be empty). An empty text gives no pieces; otherwise the last piece is always kept:
// "a:" gives "a" and "".
std::vector<std::wstring> SplitAtAny(std::wstring_view text, std::wstring_view delimiters);

// A C runtime unsigned conversion such as wcstoul.
using NumberConverter = unsigned long (*)(const wchar_t* text, wchar_t** end, int radix);

// Converts `text` with the converter and radix. Empty text, text where the converter
// consumes nothing, and a range error give `defaultNumber`; trailing garbage is ignored.
std::uint32_t TextToNumber(NumberConverter converter, const std::wstring& text, std::uint32_t defaultNumber,
                           int radix);

}  // namespace kv
