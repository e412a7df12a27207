// Small helpers shared by the tests: paths of the build's programs and scratch folders.
#pragma once

#include <string>

namespace kv::test {

// Folder of the running test program (the build's bin folder), without a trailing "\".
std::wstring ProgramFolder();

// A fresh, empty scratch folder under the system's temporary folder; removed first if
// it exists.
std::wstring FreshFolder(const std::wstring& name);

// Deletes a folder tree (best effort, for test clean-up).
void RemoveTree(const std::wstring& path);

// Writes bytes to a file, replacing it; returns false on failure.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);

// Reads a whole file; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);

}  // namespace kv::test
