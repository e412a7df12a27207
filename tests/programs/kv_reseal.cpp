// Demo and bench helper: what a build with its own built-in configuration makes, without
// building again. Copies a program of this build and seals another configuration text
// into the copy with this build's secret.
//
//   kv_reseal <program.exe> <copy.exe> <configuration text file>
//
// Exits 0 when the copy carries the text, 1 on failure, 2 on bad arguments.
#include <windows.h>

#include <cstdio>

#include "foundation/FileStream.h"
#include "protect/BuildSecret.h"
#include "support/ResealedCopy.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fputs("usage: kv_reseal <program.exe> <copy.exe> <configuration text file>\n", stderr);
    return 2;
  }
  kv::FileStream file;
  std::string text;
  if (file.OpenRead(argv[3]).Failed() || file.ReadAll(text).Failed() || text.empty()) return 1;
  kv::Digest256 secret{};
  if (!kv::BuildSecret(secret)) return 1;
  return kv::test::Reseal(argv[1], argv[2], secret, text) ? 0 : 1;
}
