#include "scan/FolderCleanup.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "foundation/ErrorCodes.h"
#include "support/ResultAssertions.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void MakeFolder(const std::wstring& path) { ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr)) << ::GetLastError(); }

// A folder with a file and a subfolder holding another file.
void MakeTree(const std::wstring& path) {
  MakeFolder(path);
  ASSERT_TRUE(test::WriteFileBytes(path + L"\\a.txt", "a"));
  MakeFolder(path + L"\\sub");
  ASSERT_TRUE(test::WriteFileBytes(path + L"\\sub\\b.txt", "b"));
}

TEST(ProgramFolderCleanup, DeletesOnlySiblingsOfTheSameBase) {
  const std::wstring root = test::FreshFolder(L"cleanup_siblings");
  for (const wchar_t* name : {L"app3", L"app", L"APP1", L"app2.bak", L"apps", L"app_old", L"tool1"}) {
    MakeTree(root + L"\\" + name);
  }
  ASSERT_TRUE(test::WriteFileBytes(root + L"\\app9", "a plain file"));

  EXPECT_OK(ProgramFolderCleanup(root + L"\\app3\\Kestravondalsc.exe", L"app"));
  for (const wchar_t* gone : {L"app", L"APP1", L"app2.bak"}) EXPECT_FALSE(Exists(root + L"\\" + gone)) << gone;
  for (const wchar_t* kept : {L"app3", L"apps", L"app_old", L"tool1"}) {
    EXPECT_TRUE(Exists(root + L"\\" + kept + L"\\sub\\b.txt")) << kept;
  }
  EXPECT_EQ(test::ReadFileBytes(root + L"\\app9"), "a plain file");
  test::RemoveTree(root);
}

TEST(ProgramFolderCleanup, AProgramOutsideAnAppFolderDeletesNothing) {
  const std::wstring root = test::FreshFolder(L"cleanup_bin");
  MakeTree(root + L"\\bin");
  MakeTree(root + L"\\app");
  MakeTree(root + L"\\1234");
  struct Case {
    const wchar_t* programFolder;
    const wchar_t* base;
  } cases[] = {{L"bin", L"app"}, {L"1234", L""}, {L"app12345678901", L"app"}};
  for (const Case& c : cases) {
    const ResultChain result = ProgramFolderCleanup(root + L"\\" + c.programFolder + L"\\x.exe", c.base);
    EXPECT_TRUE(result.Contains(err::InvalidPath)) << c.programFolder;
  }
  EXPECT_TRUE(Exists(root + L"\\app\\sub\\b.txt"));
  test::RemoveTree(root);
}

// Where ordinary users may plant folders beside the program, nothing is deleted.
TEST(ProgramFolderCleanup, AParentEveryoneMayWriteInIsRefused) {
  const std::wstring root = test::FreshFolder(L"cleanup_open_parent");
  MakeTree(root + L"\\app1");
  MakeTree(root + L"\\app2");
  if (!test::LetEveryone(root, /*write=*/true)) {
    test::RemoveTree(root);
    GTEST_SKIP() << "the parent's access list cannot be opened to Everyone here";
  }
  EXPECT_TRUE(ProgramFolderCleanup(root + L"\\app1\\x.exe", L"app").Contains(err::InvalidParent));
  EXPECT_TRUE(Exists(root + L"\\app2\\sub\\b.txt"));
  test::RemoveTree(root);
}

TEST(ProgramFolderCleanup, ReadOnlyContentIsDeletedAndAFileInUseStopsOnlyItsFolder) {
  const std::wstring root = test::FreshFolder(L"cleanup_readonly");
  MakeTree(root + L"\\app1");
  MakeTree(root + L"\\app7");
  ASSERT_TRUE(::SetFileAttributesW((root + L"\\app7\\sub\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  MakeTree(root + L"\\app8");
  HANDLE inUse = ::CreateFileW((root + L"\\app8\\a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(inUse, INVALID_HANDLE_VALUE);

  EXPECT_OK(ProgramFolderCleanup(root + L"\\app1\\x.exe", L"app"));
  EXPECT_FALSE(Exists(root + L"\\app7"));
  EXPECT_TRUE(Exists(root + L"\\app8\\a.txt")) << "a file in use stays, and so does its folder";
  EXPECT_TRUE(Exists(root + L"\\app1\\sub\\b.txt"));
  ::CloseHandle(inUse);
  test::RemoveTree(root);
}

TEST(ProgramFolderCleanup, LinksAreRemovedAsLinksAndTheirTargetsStay) {
  const std::wstring root = test::FreshFolder(L"cleanup_links");
  const std::wstring precious = test::FreshFolder(L"cleanup_precious");
  ASSERT_TRUE(test::WriteFileBytes(precious + L"\\keep.txt", "keep"));
  MakeTree(root + L"\\app2");
  MakeFolder(root + L"\\app");
  // A link inside a sibling, and a sibling that is itself a link.
  const bool inner = test::MakeFolderLink(precious, root + L"\\app\\link");
  const bool outer = test::MakeFolderLink(precious, root + L"\\app5");
  if (!inner || !outer) {
    test::RemoveTree(root);
    test::RemoveTree(precious);
    GTEST_SKIP() << "this system makes no folder links";
  }

  EXPECT_OK(ProgramFolderCleanup(root + L"\\app2\\x.exe", L"app"));
  EXPECT_EQ(test::ReadFileBytes(precious + L"\\keep.txt"), "keep");
  EXPECT_TRUE(Exists(root + L"\\app2\\sub\\b.txt"));
  const bool linksLeft = Exists(root + L"\\app\\link") || Exists(root + L"\\app5");
  test::RemoveFolderLink(root + L"\\app\\link");
  test::RemoveFolderLink(root + L"\\app5");
  test::RemoveTree(root);
  test::RemoveTree(precious);
  if (linksLeft && test::UnderWine()) {
    GTEST_SKIP() << "Wine removes no folder link: only the targets' safety was checked";
  }
  EXPECT_FALSE(linksLeft);
}

// The program runs through a folder link, the usual "current version" layout: the
// sibling that is its folder, or holds it, stays whatever its name; a real old copy
// still goes.
TEST(ProgramFolderCleanup, TheOwnFolderIsKnownByIdentityNotByName) {
  const struct {
    const wchar_t* linkTarget;
    const wchar_t* kept;
    const wchar_t* gone;
  } cases[] = {
      {L"app3", L"app3\\a.txt", L"app2"},      // app is app3
      {L"app2\\sub", L"app2\\a.txt", L"app3"},  // app is a folder inside app2
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.linkTarget);
    const std::wstring root = test::FreshFolder(L"cleanup_identity");
    for (const wchar_t* name : {L"app1", L"app2", L"app3"}) MakeTree(root + L"\\" + name);
    if (!test::MakeFolderLink(root + L"\\" + c.linkTarget, root + L"\\app")) {
      test::RemoveTree(root);
      GTEST_SKIP() << "this system makes no folder links";
    }
    EXPECT_OK(ProgramFolderCleanup(root + L"\\app\\x.exe", L"app"));
    EXPECT_TRUE(Exists(root + L"\\" + c.kept));
    EXPECT_FALSE(Exists(root + L"\\" + c.gone));
    EXPECT_FALSE(Exists(root + L"\\app1"));
    test::RemoveFolderLink(root + L"\\app");
    test::RemoveTree(root);
  }
}

// Between the listing of a folder and the deletes in it, a user swaps a folder for a link
// to one outside that holds the same names: nothing the link leads to is touched.
TEST(ProgramFolderCleanup, AFolderSwappedForALinkMidwayLeadsNowhere) {
  const struct {
    const wchar_t* listed;  // the folder whose listing the swap follows ("": the parent)
    const wchar_t* swapped;
  } cases[] = {{L"\\app2\\sub", L"app2\\sub"}, {L"\\app2", L"app2\\sub"}, {L"", L"app2"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.swapped);
    const std::wstring root = test::FreshFolder(L"cleanup_swap");
    const std::wstring outside = test::FreshFolder(L"cleanup_outside");
    MakeTree(root + L"\\app1");
    MakeTree(root + L"\\app2");
    MakeTree(outside + L"\\x");
    ASSERT_TRUE(test::WriteFileBytes(outside + L"\\x\\b.txt", "b"));
    const std::wstring swapped = root + L"\\" + c.swapped;
    bool linked = false, swappedOnce = false;
    const CleanupProbe swap = [&](const std::wstring& listed) {
      if (swappedOnce || _wcsicmp(listed.c_str(), (root + c.listed).c_str()) != 0) return;
      swappedOnce = true;
      linked = ::MoveFileW(swapped.c_str(), (root + L"\\moved").c_str()) &&
               test::MakeFolderLink(outside + L"\\x", swapped);
    };
    EXPECT_OK(ProgramFolderCleanup(root + L"\\app1\\x.exe", L"app", swap));
    for (const wchar_t* kept : {L"\\x\\a.txt", L"\\x\\b.txt", L"\\x\\sub\\b.txt"}) {
      EXPECT_TRUE(Exists(outside + kept)) << kept;
    }
    EXPECT_TRUE(Exists(root + L"\\app1\\sub\\b.txt"));
    test::RemoveFolderLink(swapped);
    test::RemoveTree(root);
    test::RemoveTree(outside);
    if (!linked) GTEST_SKIP() << "this system makes no folder links";
  }
}

TEST(SplitFolderNumber, BaseAndNumber) {
  struct Case {
    const wchar_t* path;
    const wchar_t* base;
    std::uint32_t number;
  } cases[] = {
      {L"C:\\x\\app12", L"app", 12}, {L"C:\\x\\app", L"app", 0},     {L"C:\\x\\app.old", L"app", 0},
      {L"C:\\x\\12", L"", 12},       {L"C:\\x\\app2.bak", L"app", 2}, {L"C:\\x\\a1b2", L"a1b", 2},
      {L"C:\\x\\app123456789", L"app", 123456789},
  };
  for (const Case& c : cases) {
    std::wstring base = L"unset";
    std::uint32_t number = 99;
    ASSERT_OK(SplitFolderNumber(c.path, base, number)) << c.path;
    EXPECT_EQ(base, c.base) << c.path;
    EXPECT_EQ(number, c.number) << c.path;
  }
  std::wstring base;
  std::uint32_t number = 0;
  EXPECT_TRUE(SplitFolderNumber(L"C:\\x\\app1234567890", base, number).Contains(err::IndexOverFlow));
}

TEST(DeleteFolderTree, FailuresSayWhat) {
  EXPECT_TRUE(DeleteFolderTree(L"", -1).Contains(err::InvalidFolder));
  EXPECT_TRUE(DeleteFolderTree(test::ProgramFolder() + L"\\no_such_folder", -1).Contains(err::FolderNotFound));
}

}  // namespace
}  // namespace kv
