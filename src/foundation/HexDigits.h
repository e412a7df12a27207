// Hexadecimal digits, both ways: the digit of a nibble, and the value of a digit.
#pragma once

namespace kv {

// The digit of `nibble` (its low four bits), "0".."9" then "a".."f".
constexpr wchar_t LowerHexDigit(unsigned nibble) { return L"0123456789abcdef"[nibble & 15]; }

// The digit of `nibble` (its low four bits), "0".."9" then "A".."F".
constexpr wchar_t UpperHexDigit(unsigned nibble) { return L"0123456789ABCDEF"[nibble & 15]; }

// The value of a hexadecimal digit of either case; -1 for any other character.
constexpr int HexDigitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

}  // namespace kv
