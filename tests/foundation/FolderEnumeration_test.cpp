#include "foundation/FolderEnumeration.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

class FolderEnumerationTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = test::FreshFolder(L"folderenum"); }
  void TearDown() override { test::RemoveTree(root_); }

  void MakeFolder(const std::wstring& relative) {
    ASSERT_TRUE(::CreateDirectoryW((root_ + L"\\" + relative).c_str(), nullptr));
  }
  void MakeFile(const std::wstring& relative) { ASSERT_TRUE(test::WriteFileBytes(root_ + L"\\" + relative, "x")); }

  // Every entry delivered, as paths relative to the root, and the chain that ended it.
  std::vector<std::wstring> List(int depth, ResultChain& end, const std::wstring& start = L"") {
    FolderEnumeration listing;
    std::vector<std::wstring> paths;
    end = listing.Start(start.empty() ? root_ : start, depth);
    if (end.Failed()) return paths;
    for (int guard = 0; guard < 1000; ++guard) {
      end = listing.Next();
      if (end.Failed()) break;
      const std::wstring full = listing.FullPath();
      paths.push_back(full.substr(root_.size() + 1));
    }
    return paths;
  }

  static void ExpectNormalEnd(const ResultChain& end) {
    EXPECT_TRUE(end.Contains(err::NoMoreFile)) << ::testing::PrintToString(end.Codes());
    EXPECT_TRUE(end.Contains(err::FailFindNext));
    EXPECT_EQ(end.Last(), static_cast<ErrorCode>(ERROR_NO_MORE_FILES));
  }

  // The paths of positions [from, to) as a set: the system decides the order within a folder.
  static std::set<std::wstring> Slice(const std::vector<std::wstring>& paths, std::size_t from, std::size_t to) {
    return std::set<std::wstring>(paths.begin() + static_cast<std::ptrdiff_t>(from),
                                  paths.begin() + static_cast<std::ptrdiff_t>(to));
  }

  std::wstring root_;
};

TEST_F(FolderEnumerationTest, UnlimitedDepthDescendsAfterTheStartFolder) {
  MakeFile(L"f1");
  MakeFolder(L"s");
  MakeFile(L"s\\f2");
  ResultChain end;
  const auto paths = List(-1, end);
  ASSERT_EQ(paths.size(), 3u);
  EXPECT_EQ(Slice(paths, 0, 2), (std::set<std::wstring>{L"f1", L"s"}));
  EXPECT_EQ(paths[2], L"s\\f2");
  ExpectNormalEnd(end);
}

TEST_F(FolderEnumerationTest, DepthZeroListsOnlyTheStartFolder) {
  MakeFile(L"f1");
  MakeFolder(L"s");
  MakeFile(L"s\\f2");
  ResultChain end;
  const auto paths = List(0, end);
  EXPECT_EQ(Slice(paths, 0, paths.size()), (std::set<std::wstring>{L"f1", L"s"}));
  EXPECT_EQ(paths.size(), 2u);
  ExpectNormalEnd(end);
}

TEST_F(FolderEnumerationTest, BreadthFirstByLevelWithDepthLimit) {
  MakeFolder(L"a");
  MakeFolder(L"b");
  MakeFile(L"top.txt");
  MakeFolder(L"a\\a1");
  MakeFile(L"a\\x.txt");
  MakeFile(L"b\\y.txt");
  MakeFile(L"a\\a1\\deep.txt");
  MakeFolder(L"a\\a1\\a2");
  MakeFile(L"a\\a1\\a2\\deeper.txt");

  struct Case {
    int depth;
    std::vector<std::set<std::wstring>> levels;
  };
  const std::set<std::wstring> level0 = {L"a", L"b", L"top.txt"};
  const std::set<std::wstring> level1 = {L"a\\a1", L"a\\x.txt", L"b\\y.txt"};
  const std::set<std::wstring> level2 = {L"a\\a1\\deep.txt", L"a\\a1\\a2"};
  const std::set<std::wstring> level3 = {L"a\\a1\\a2\\deeper.txt"};
  const Case cases[] = {
      {0, {level0}}, {1, {level0, level1}}, {2, {level0, level1, level2}}, {-1, {level0, level1, level2, level3}},
      {5, {level0, level1, level2, level3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.depth);
    ResultChain end;
    const auto paths = List(c.depth, end);
    std::size_t at = 0;
    for (const auto& level : c.levels) {
      ASSERT_LE(at + level.size(), paths.size());
      EXPECT_EQ(Slice(paths, at, at + level.size()), level);
      at += level.size();
    }
    EXPECT_EQ(at, paths.size());
    ExpectNormalEnd(end);
  }
}

TEST_F(FolderEnumerationTest, FoldersOfOneLevelAreListedInTheOrderFound) {
  MakeFolder(L"p");
  MakeFolder(L"q");
  MakeFile(L"p\\in_p");
  MakeFile(L"q\\in_q");
  ResultChain end;
  const auto paths = List(-1, end);
  ASSERT_EQ(paths.size(), 4u);
  // Whichever of p and q came first, its content comes first on the next level.
  const bool pFirst = paths[0] == L"p";
  EXPECT_EQ(paths[2], pFirst ? L"p\\in_p" : L"q\\in_q");
  EXPECT_EQ(paths[3], pFirst ? L"q\\in_q" : L"p\\in_p");
}

TEST_F(FolderEnumerationTest, EmptyFolderStartsAndEndsAtOnce) {
  FolderEnumeration listing;
  ASSERT_FALSE(listing.Start(root_, -1).Failed());
  ExpectNormalEnd(listing.Next());
  // The end stays the end.
  ExpectNormalEnd(listing.Next());
}

TEST_F(FolderEnumerationTest, EmptySubfoldersAreSkipped) {
  MakeFolder(L"e1");
  MakeFolder(L"e2");
  MakeFolder(L"full");
  MakeFile(L"full\\f");
  ResultChain end;
  const auto paths = List(-1, end);
  EXPECT_EQ(paths.size(), 4u);
  EXPECT_EQ(paths.back(), L"full\\f");
  ExpectNormalEnd(end);
}

TEST_F(FolderEnumerationTest, EntriesCarryAttributesAndSize) {
  ASSERT_TRUE(test::WriteFileBytes(root_ + L"\\five", "12345"));
  MakeFolder(L"dir");
  FolderEnumeration listing;
  ASSERT_FALSE(listing.Start(root_ + L"\\", 0).Failed());
  int seen = 0;
  while (!listing.Next().Failed()) {
    ++seen;
    EXPECT_EQ(listing.FullPath(), root_ + L"\\" + listing.Name());
    if (listing.Name() == L"five") {
      EXPECT_FALSE(listing.IsFolder());
      EXPECT_EQ(listing.Size(), 5u);
    } else {
      EXPECT_EQ(listing.Name(), L"dir");
      EXPECT_TRUE(listing.IsFolder());
      EXPECT_NE(listing.Attributes() & FILE_ATTRIBUTE_DIRECTORY, 0u);
    }
  }
  EXPECT_EQ(seen, 2);
}

TEST_F(FolderEnumerationTest, CurrentFolderIsListedAsItself) {
  MakeFile(L"only_here.txt");
  wchar_t previous[MAX_PATH + 1] = {};
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, previous), 0u);
  ASSERT_TRUE(::SetCurrentDirectoryW(root_.c_str()));
  for (const wchar_t* start : {L".", L".\\"}) {
    SCOPED_TRACE(start);
    FolderEnumeration listing;
    ASSERT_FALSE(listing.Start(start, 0).Failed());
    std::vector<std::wstring> names;
    while (!listing.Next().Failed()) names.push_back(listing.Name());
    EXPECT_EQ(names, std::vector<std::wstring>{L"only_here.txt"});
  }
  ::SetCurrentDirectoryW(previous);
}

// The folder checked is the folder listed: a rooted or relative text names what the
// system resolves it to, never a same-named folder below the current one.
TEST_F(FolderEnumerationTest, RootedAndRelativeTextsListWhatTheSystemResolves) {
  const std::wstring name = L"kv_rooted_" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring atRoot = L"C:\\" + name;
  test::RemoveTree(atRoot);
  ASSERT_TRUE(::CreateDirectoryW(atRoot.c_str(), nullptr));
  ASSERT_TRUE(test::WriteFileBytes(atRoot + L"\\at_root.txt", "x"));
  MakeFolder(name);
  MakeFile(name + L"\\below_current.txt");
  MakeFolder(L"up");
  wchar_t previous[MAX_PATH + 1] = {};
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, previous), 0u);
  ASSERT_TRUE(::SetCurrentDirectoryW((root_ + L"\\up").c_str()));
  const struct {
    std::wstring text;
    const wchar_t* expected;
  } cases[] = {{L"\\" + name, L"at_root.txt"}, {L"..\\" + name, L"below_current.txt"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    FolderEnumeration listing;
    ASSERT_FALSE(listing.Start(c.text, 0).Failed());
    std::vector<std::wstring> names;
    while (!listing.Next().Failed()) names.push_back(listing.Name());
    EXPECT_EQ(names, std::vector<std::wstring>{c.expected});
  }
  ::SetCurrentDirectoryW(previous);
  test::RemoveTree(atRoot);
}

TEST_F(FolderEnumerationTest, StartNeedsAnExistingFolder) {
  MakeFile(L"plain.txt");
  FolderEnumeration listing;
  EXPECT_EQ(listing.Start(root_ + L"\\plain.txt", -1).Last(), err::InvalidPath);
  EXPECT_EQ(listing.Start(root_ + L"\\missing", -1).Last(), err::InvalidPath);
  EXPECT_TRUE(listing.Next().Failed());
  FolderEnumeration unstarted;
  EXPECT_TRUE(unstarted.Next().Failed());
}

TEST_F(FolderEnumerationTest, DescendsBeyondTheClassicPathLimit) {
  std::wstring relative;
  for (int level = 0; level < 5; ++level) {
    relative += (level ? L"\\" : L"") + std::wstring(60, L'n') + std::to_wstring(level);
    ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + root_ + L"\\" + relative).c_str(), nullptr));
  }
  relative += L"\\leaf.txt";
  ASSERT_GT(root_.size() + relative.size(), 300u);
  ASSERT_TRUE(test::WriteFileBytes(L"\\\\?\\" + root_ + L"\\" + relative, "x"));
  ResultChain end;
  const auto paths = List(-1, end);
  ASSERT_EQ(paths.size(), 6u);
  EXPECT_EQ(paths.back(), relative);
  ExpectNormalEnd(end);
  test::RemoveTree(L"\\\\?\\" + root_);
}

TEST_F(FolderEnumerationTest, ReparsePointFoldersAreNotDescendedUnlessAsked) {
  MakeFolder(L"target");
  MakeFile(L"target\\t.txt");
  MakeFolder(L"walk");
  const std::wstring link = root_ + L"\\walk\\link";
  if (!::CreateSymbolicLinkW(link.c_str(), (root_ + L"\\target").c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY)) {
    GTEST_SKIP() << "no directory links here: " << ::GetLastError();
  }
  const DWORD attributes = ::GetFileAttributesW(link.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    GTEST_SKIP() << "links are not reported as reparse points here";
  }
  for (const bool descend : {false, true}) {
    SCOPED_TRACE(descend);
    FolderEnumeration listing;
    ASSERT_FALSE(listing.Start(root_ + L"\\walk", -1, descend).Failed());
    std::vector<std::wstring> names;
    while (!listing.Next().Failed()) names.push_back(listing.Name());
    const std::vector<std::wstring> expected =
        descend ? std::vector<std::wstring>{L"link", L"t.txt"} : std::vector<std::wstring>{L"link"};
    EXPECT_EQ(names, expected);
  }
  ::RemoveDirectoryW(link.c_str());
}

}  // namespace
}  // namespace kv
