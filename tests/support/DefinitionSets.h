// Definition sets as an administrator publishes them for the reference engine: the
// files, then a manifest "defset.ini" naming each with its size and SHA-256.
#pragma once

#include <string>
#include <vector>

namespace kv::test {

struct SetFile {
  std::wstring name;
  std::string bytes;
};

struct DefinitionSet {
  std::wstring version;
  std::wstring date;
  std::vector<SetFile> files;
};

// Deterministic file content of `size` bytes.
std::string Pattern(std::size_t size, unsigned seed);

// One manifest line, "name=size,sha256".
std::string FileLine(const std::wstring& name, const std::string& bytes);

// Publishes the safe way: the files first, the manifest last (UTF-8 with a byte-order
// mark). `extraLines` are appended to the manifest.
void Publish(const std::wstring& folder, const DefinitionSet& set, const std::string& extraLines = {});

}  // namespace kv::test
