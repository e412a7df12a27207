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
  // Published with a chunk index for every file that is not empty.
  bool indexed = false;
};

// Deterministic bytes without structure, as compressed definitions are: content-defined
// chunks fall in them as in real files.
std::string Noise(std::size_t size, unsigned seed);

// Deterministic file content of `size` bytes.
std::string Pattern(std::size_t size, unsigned seed);

// One manifest line, "name=size,sha256".
std::string FileLine(const std::wstring& name, const std::string& bytes);

// Publishes the safe way: the files first, the manifest last (UTF-8 with a byte-order
// mark). `extraLines` are appended to the manifest.
void Publish(const std::wstring& folder, const DefinitionSet& set, const std::string& extraLines = {});

// Writes what kvtool publishes beside a set for cheaper updates: the compressed copy of
// each file it shrinks ("defset.z") and, for each file that differs from the one
// of its name in `earlier`, the patch from that one ("defset.patches"). Returns the
// manifest's sections that list them, for Publish's `extraLines`.
std::string PublishPackedObjects(const std::wstring& folder, const DefinitionSet& set,
                                 const DefinitionSet* earlier = nullptr);

// A signing key pair as the publisher holds it and as the engine's settings carry it.
struct SigningKey {
  std::string privateBlob;
  std::wstring publicKey;  // base64 text for "PublicKey"
};

// A key made once per test program.
const SigningKey& TestKey();

// "PublicKey=<the test key>\r\n", for a built-in configuration's [ScanEngine] section.
std::string TestKeyLine();

// Writes "defset.sig" for the manifest in `folder`.
void SignSet(const std::wstring& folder, const SigningKey& key = TestKey());

// Publish, then SignSet.
void PublishSigned(const std::wstring& folder, const DefinitionSet& set, const SigningKey& key = TestKey(),
                   const std::string& extraLines = {});

}  // namespace kv::test
