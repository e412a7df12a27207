#include "foundation/PathName.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// The program's folder with its trailing separator, as "default" sees it.
std::wstring ProgramFolderWithSeparator() { return SplitPath(ModulePath()).drive + SplitPath(ModulePath()).directory; }

struct PathCase {
  const wchar_t* text;
  std::wstring folder;
  std::wstring name;
  std::wstring extension;
  std::wstring fullPath;
};

TEST(PathName, UrlsSplitIntoFolderNameAndExtension) {
  const std::vector<PathCase> cases = {
      {L"http://host/defs/file.zip", L"http://host/defs/", L"file", L".zip", L"http://host/defs/file.zip"},
      {L"https://host/get?id=a.b", L"https://host/", L"get?id=a.b", L"", L"https://host/get?id=a.b"},
      {L"http://host/defs/", L"http://host/defs/", L"", L"", L"http://host/defs/"},
      {L"http://host", L"http://host/", L"", L"", L"http://host/"},
      {L"https://h", L"https://h/", L"", L"", L"https://h/"},
      {L"http://host/x/x", L"http://host/x/", L"x", L"", L"http://host/x/x"},
      {L"http://host//a/b.tar.gz", L"http://host//a/", L"b.tar", L".gz", L"http://host//a/b.tar.gz"},
      {L"http:///x", L"http:///", L"x", L"", L"http:///x"},
      {L"http:////x", L"http:////", L"x", L"", L"http:////x"},
      {L"http://host/a.b/c", L"http://host/a.b/", L"c", L"", L"http://host/a.b/c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    PathName path;
    EXPECT_FALSE(path.Set(c.text).Failed());
    EXPECT_EQ(path.Folder(), c.folder);
    EXPECT_EQ(path.Name(), c.name);
    EXPECT_EQ(path.Extension(), c.extension);
    EXPECT_EQ(path.FullPath(), c.fullPath);
  }
}

TEST(PathName, AbsoluteUncAndNativePaths) {
  const std::vector<PathCase> cases = {
      {L"\\\\server\\share\\defs\\", L"\\\\server\\share\\defs\\", L"", L"", L"\\\\server\\share\\defs\\"},
      {L"\\\\server\\share\\a.txt", L"\\\\server\\share\\", L"a", L".txt", L"\\\\server\\share\\a.txt"},
      {L"\\??\\C:\\data\\a.txt", L"C:\\data\\", L"a", L".txt", L"C:\\data\\a.txt"},
      {L"C:\\x\\a.b.c", L"C:\\x\\", L"a.b", L".c", L"C:\\x\\a.b.c"},
      {L"C:/x/y", L"C:/x/", L"y", L"", L"C:/x/y"},
      {L"C:\\dir.d\\name", L"C:\\dir.d\\", L"name", L"", L"C:\\dir.d\\name"},
      {L"D:", L"D:", L"", L"", L"D:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    PathName path;
    EXPECT_FALSE(path.Set(c.text).Failed());
    EXPECT_EQ(path.Folder(), c.folder);
    EXPECT_EQ(path.Name(), c.name);
    EXPECT_EQ(path.Extension(), c.extension);
    EXPECT_EQ(path.FullPath(), c.fullPath);
  }
}

TEST(PathName, PrefixesAreExactAndCaseSensitive) {
  // Not a URL: taken as a path relative to the program's folder.
  PathName upper;
  EXPECT_FALSE(upper.Set(L"HTTP://host/a.b").Failed());
  EXPECT_EQ(upper.Folder(), ProgramFolderWithSeparator() + L"HTTP://host/");
  // "http://" alone is too short to be a URL.
  PathName bare;
  EXPECT_FALSE(bare.Set(L"http://").Failed());
  EXPECT_EQ(bare.Folder(), ProgramFolderWithSeparator() + L"http://");
}

TEST(PathName, RelativePathsStartFromTheProgramFolder) {
  const std::wstring base = ProgramFolderWithSeparator();
  ASSERT_GT(base.size(), 3u);
  const std::vector<PathCase> cases = {
      {L"logs\\a.txt", base + L"logs\\", L"a", L".txt", base + L"logs\\a.txt"},
      {L"\\logs\\a.txt", base + L"logs\\", L"a", L".txt", base + L"logs\\a.txt"},
      {L"//\\logs/a.txt", base + L"logs/", L"a", L".txt", base + L"logs/a.txt"},
      {L"a.ini", base, L"a", L".ini", base + L"a.ini"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    PathName path;
    EXPECT_FALSE(path.Set(c.text).Failed());
    EXPECT_EQ(path.Folder(), c.folder);
    EXPECT_EQ(path.Name(), c.name);
    EXPECT_EQ(path.Extension(), c.extension);
    EXPECT_EQ(path.FullPath(), c.fullPath);
  }
}

TEST(PathName, RelativePathsExtendTheCurrentFolder) {
  PathName path(L"C:\\base\\x.ini");
  EXPECT_FALSE(path.Set(L"sub\\y.txt").Failed());
  EXPECT_EQ(path.FullPath(), L"C:\\base\\sub\\y.txt");
  // A bare extension keeps the name and changes the extension.
  EXPECT_FALSE(path.Set(L".bak").Failed());
  EXPECT_EQ(path.FullPath(), L"C:\\base\\sub\\y.bak");
  EXPECT_EQ(path.FileName(false), L"y");
  EXPECT_EQ(path.FileName(true), L"y.bak");
}

TEST(PathName, DefaultIsTheProgramFile) {
  const std::wstring module = ModulePath();
  ASSERT_FALSE(module.empty());
  const SplitPathParts parts = SplitPath(module);
  for (const auto& text : {L"default", L"\\??\\default"}) {
    SCOPED_TRACE(text);
    PathName path;
    EXPECT_FALSE(path.Set(text).Failed());
    EXPECT_EQ(path.Folder(), parts.drive + parts.directory);
    EXPECT_EQ(path.Name(), parts.fileName);
    EXPECT_EQ(path.Extension(), parts.extension);
  }
  PathName viaSetFullPath;
  EXPECT_FALSE(viaSetFullPath.SetFullPath(L"default").Failed());
  EXPECT_EQ(viaSetFullPath.FullPath(), module);
  EXPECT_EQ(Lower(module), Lower(test::ProgramFolder() + L"\\kv_foundation_tests.exe"));
  // "Default" is a name, not the keyword.
  PathName capital;
  EXPECT_FALSE(capital.Set(L"Default").Failed());
  EXPECT_EQ(capital.FullPath(), parts.drive + parts.directory + L"Default");
}

TEST(PathName, EmptyTextFailsWithInvalidPath) {
  PathName path(L"C:\\x\\a.txt");
  const ResultChain set = path.Set(L"");
  EXPECT_EQ(set.Last(), err::InvalidPath);
  EXPECT_TRUE(path.IsEmpty());
  PathName full(L"C:\\x\\a.txt");
  EXPECT_EQ(full.SetFullPath(L"").Last(), err::InvalidPath);
  EXPECT_TRUE(full.IsEmpty());
  // The constructor discards the outcome.
  EXPECT_TRUE(PathName(L"").IsEmpty());
}

TEST(SplitPath, FollowsTheRuntimeRules) {
  struct Case {
    const wchar_t* path;
    const wchar_t* drive;
    const wchar_t* directory;
    const wchar_t* fileName;
    const wchar_t* extension;
  };
  const Case cases[] = {
      {L"C:\\a\\b.txt", L"C:", L"\\a\\", L"b", L".txt"},
      {L"a.b\\c", L"", L"a.b\\", L"c", L""},
      {L".hidden", L"", L"", L"", L".hidden"},
      {L"name.", L"", L"", L"name", L"."},
      {L"", L"", L"", L"", L""},
      {L"C:", L"C:", L"", L"", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const SplitPathParts parts = SplitPath(c.path);
    EXPECT_EQ(parts.drive, c.drive);
    EXPECT_EQ(parts.directory, c.directory);
    EXPECT_EQ(parts.fileName, c.fileName);
    EXPECT_EQ(parts.extension, c.extension);
  }
  // Longer than the runtime's fixed buffers.
  const std::wstring longDir(600, L'd');
  const SplitPathParts parts = SplitPath(L"C:\\" + longDir + L"\\f.e");
  EXPECT_EQ(parts.directory, L"\\" + longDir + L"\\");
}

TEST(EnvironmentValue, ReadsSetAndLongValues) {
  // Up to the system's 32767 units: the buffer grows as often as it must.
  for (const std::size_t length : {1000u, 5000u, 32000u}) {
    const std::wstring value(length, L'v');
    ASSERT_TRUE(::SetEnvironmentVariableW(L"KV_TEST_ENV_VALUE", value.c_str()));
    EXPECT_EQ(EnvironmentValue(L"KV_TEST_ENV_VALUE"), value) << length;
  }
  ASSERT_TRUE(::SetEnvironmentVariableW(L"KV_TEST_ENV_VALUE", nullptr));
  EXPECT_EQ(EnvironmentValue(L"KV_TEST_ENV_VALUE"), L"");
}

TEST(NormalizeModulePath, NativeAndSystemRootForms) {
  const std::wstring systemRoot = EnvironmentValue(L"systemroot");
  ASSERT_FALSE(systemRoot.empty());
  struct Case {
    std::wstring in;
    std::wstring out;
  };
  const Case cases[] = {
      {L"\\??\\C:\\kv_missing\\svc.exe", L"C:\\kv_missing\\svc.exe"},
      {L"\\SystemRoot\\kv_missing\\svc.exe", systemRoot + L"\\kv_missing\\svc.exe"},
      {L"\\systemroot\\kv_missing\\svc.exe", systemRoot + L"\\kv_missing\\svc.exe"},
      {L"\\??\\", L"\\??\\"},  // nothing after the prefix: too short to strip
      {L"C:\\kv_missing\\systemroot", L"C:\\kv_missing\\systemroot"},
      {L"\\System", L"\\System"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(NormalizeModulePath(c.in), c.out);
  }
  // An existing path comes back in its long form.
  EXPECT_EQ(Lower(NormalizeModulePath(L"\\??\\" + ModulePath())), Lower(ModulePath()));
}

TEST(LongPathName, FailureLeavesOutputUnchanged) {
  std::wstring out = L"unchanged";
  const ResultChain missing = LongPathName(test::ProgramFolder() + L"\\no_such_file_kv.txt", out);
  EXPECT_TRUE(missing.Failed());
  EXPECT_TRUE(IsSystemCode(missing.Last()));
  EXPECT_EQ(out, L"unchanged");
  EXPECT_FALSE(LongPathName(ModulePath(), out).Failed());
  EXPECT_EQ(Lower(out), Lower(ModulePath()));
}

}  // namespace
}  // namespace kv
