// Small helpers shared by the tests: paths of the build's programs and scratch folders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// Every month file ("Kv_*.txt") of a log folder, concatenated; empty when there is none.
std::string MonthFilesContent(const std::wstring& logFolder);

// The names in a folder (without "." and ".."), sorted; empty when it cannot be listed.
std::vector<std::wstring> FolderListing(const std::wstring& folder);

// Makes `link` a folder link to `target`: under Wine a link of the host's file system
// (Wine's own call creates nothing), elsewhere a directory symbolic link. False when no
// link exists afterwards, so that a test can skip.
bool MakeFolderLink(const std::wstring& target, const std::wstring& link);
// Removes a folder link made by MakeFolderLink, never its target.
void RemoveFolderLink(const std::wstring& link);
// The owner and access list of an open kernel object (a HANDLE) as SDDL, as the system
// keeps them; empty when they cannot be read.
std::wstring ObjectSddl(void* object);
// `sddl` as the system writes it back, the form ObjectSddl gives.
std::wstring CanonicalSddl(const std::wstring& sddl);

// `text` in code page `codePage` (UTF-8 unless told; 65001 is CP_UTF8), for messages and
// for bytes a test writes; empty when it cannot be converted.
std::string Narrow(const std::wstring& text, unsigned codePage = 65001);

// True when the tests run under Wine.
bool UnderWine();
// Whether Everyone may read (or, with `write`, write) the file or folder at `path`, by
// its access list as the system reports it; true when that cannot be read.
bool EveryoneMay(const std::wstring& path, bool write);
// Lets Everyone read `path` or, with `write`, also write there: under Wine through the
// host's file mode, from which Wine makes the access list it reports. False when the
// access list read back does not say so, so that a test can skip. With `let` false,
// takes that right back from Everyone instead.
bool LetEveryone(const std::wstring& path, bool write, bool let = true);

// A time value as "%04d%02d%02d_%02d%02d%02d" of the C runtime's local time (all fields
// zero when it cannot be converted): how the log stamps its records.
std::string LocalStamp(std::int32_t value);

// Today's local date plus `offsetDays`, "yyyy-mm-dd"; "yyyymmdd" without `dashes`.
std::string LocalDate(int offsetDays = 0, bool dashes = true);

}  // namespace kv::test
