#include "log/LogFolder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <set>
#include <string>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "log/MonthlyLog.h"
#include "kernel/InstanceSuffix.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

bool IsFolder(const std::wstring& path) {
  const DWORD a = ::GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// The real calls, with every path looked up or created on record.
class RecordingCalls : public FolderCalls {
 public:
  DWORD Attributes(const std::wstring& path, DWORD& error) override {
    looked.push_back(path);
    return FolderCalls::Attributes(path, error);
  }
  bool CreateFolder(const std::wstring& path) override {
    created.push_back(path);
    return FolderCalls::CreateFolder(path);
  }
  std::vector<std::wstring> looked;
  std::vector<std::wstring> created;
};

// A file system in which only `existing` folders exist and creation does as told.
class FakeCalls : public FolderCalls {
 public:
  DWORD Attributes(const std::wstring& path, DWORD& error) override {
    looked.push_back(path);
    if (existing.count(path) != 0) {
      error = 0;
      return FILE_ATTRIBUTE_DIRECTORY;
    }
    error = ERROR_FILE_NOT_FOUND;
    return INVALID_FILE_ATTRIBUTES;
  }
  bool CreateFolder(const std::wstring& path) override {
    created.push_back(path);
    if (!createSucceeds) return false;
    existing.insert(path);
    return true;
  }
  std::set<std::wstring> existing;
  bool createSucceeds = true;
  std::vector<std::wstring> looked;
  std::vector<std::wstring> created;
};

TEST(SetFolderTest, DefaultLogFolderBesideTheProgram) {
  const std::wstring expected = test::ProgramFolder() + L"\\log";
  test::RemoveTree(expected);
  MonthlyLog log;
  EXPECT_FALSE(log.SetFolder(L"log").Failed());
  EXPECT_EQ(Lower(expected), Lower(log.Folder()));
  EXPECT_TRUE(IsFolder(expected));
  test::RemoveTree(expected);
}

TEST(SetFolderTest, MissingFoldersAreCreatedOneByOne) {
  const std::wstring base = test::FreshFolder(L"setfolder_nested");
  const std::wstring target = base + L"\\Logs\\Service\\Deep";
  MonthlyLog log;
  EXPECT_FALSE(log.SetFolder(target).Failed());
  EXPECT_EQ(target, log.Folder());
  EXPECT_TRUE(IsFolder(target));
  ASSERT_FALSE(log.Write(L"[A]\n").Failed());
  EXPECT_EQ("[A]\r\n", test::ReadFileBytes(log.MonthFile(CurrentLocalTime())));
  test::RemoveTree(base);
}

TEST(SetFolderTest, FoldersAreCreatedThroughTheLongPathForm) {
  const std::wstring base = test::FreshFolder(L"createfolders_long");
  RecordingCalls calls;
  EXPECT_FALSE(CreateFolders(base + L"\\a\\b", true, calls).Failed());
  ASSERT_EQ(2u, calls.created.size());
  EXPECT_EQ(L"\\\\?\\" + base + L"\\a\\", calls.created[0]);
  EXPECT_EQ(L"\\\\?\\" + base + L"\\a\\b\\", calls.created[1]);
  EXPECT_TRUE(IsFolder(base + L"\\a\\b"));
  test::RemoveTree(base);
}

TEST(SetFolderTest, LastComponentWithADotIsRefused) {
  const std::wstring base = test::FreshFolder(L"setfolder_dot");
  MonthlyLog log;
  const ResultChain chain = log.SetFolder(base + L"\\Logs\\2024.old");
  EXPECT_EQ(err::InvalidLogPath, chain.Last());
  EXPECT_TRUE(log.Folder().empty());
  EXPECT_TRUE(IsFolder(base + L"\\Logs"));
  EXPECT_FALSE(IsFolder(base + L"\\Logs\\2024.old"));
  EXPECT_EQ(err::FileNotFound, log.Write(L"[A]\n").Last());
  test::RemoveTree(base);
}

TEST(SetFolderTest, SeparatorsAreNormalised) {
  const std::wstring base = test::FreshFolder(L"setfolder_slashes");
  std::wstring forward = base;
  std::replace(forward.begin(), forward.end(), L'\\', L'/');
  for (const std::wstring& text : {forward + L"/Logs/Service/", base + L"\\Logs\\.\\old\\..\\Service\\\\",
                                   base + L"\\Logs/Service"}) {
    MonthlyLog log;
    EXPECT_FALSE(log.SetFolder(text).Failed()) << text;
    EXPECT_EQ(base + L"\\Logs\\Service", log.Folder()) << text;
  }
  test::RemoveTree(base);
}

TEST(SetFolderTest, FailedSetLeavesNoFolder) {
  const std::wstring base = test::FreshFolder(L"setfolder_clear");
  MonthlyLog log;
  ASSERT_FALSE(log.SetFolder(base).Failed());
  ASSERT_TRUE(test::WriteFileBytes(base + L"\\afile", "x"));
  EXPECT_EQ(err::InvalidLogPath, log.SetFolder(base + L"\\afile").Last()) << "a file is not a folder";
  EXPECT_TRUE(log.Folder().empty());
  test::RemoveTree(base);
}

TEST(CreateFoldersTest, UncPathKeepsItsBackslashesAndGetsNoLongPathPrefix) {
  FakeCalls calls;
  calls.existing.insert(L"\\\\server\\share\\");
  EXPECT_FALSE(CreateFolders(L"\\\\server\\share\\logs\\kv", true, calls).Failed());
  for (const std::wstring& path : calls.looked) {
    EXPECT_EQ(0u, path.rfind(L"\\\\server\\", 0)) << path;
  }
  const std::vector<std::wstring> expected = {L"\\\\server\\share\\logs\\", L"\\\\server\\share\\logs\\kv\\"};
  EXPECT_EQ(expected, calls.created);
}

TEST(CreateFoldersTest, RefusedPaths) {
  struct Case {
    const wchar_t* path;
    bool lastMayBeFile;
    ErrorCode expected;
  };
  const Case cases[] = {
      {L"", true, err::InvalidPath},       {L"C", true, err::InvalidPath},
      {L"C:", true, err::InvalidPath},     {L"C:\\", true, err::InvalidPath},
      {L"C:\\.\\..", true, err::InvalidPath},
  };
  for (const Case& c : cases) {
    FakeCalls calls;
    const ResultChain chain = CreateFolders(c.path, c.lastMayBeFile, calls);
    EXPECT_EQ(c.expected, chain.Last()) << c.path;
    EXPECT_TRUE(calls.created.empty()) << c.path;
  }
}

TEST(CreateFoldersTest, OutcomesOnAFakeDisk) {
  struct Case {
    const wchar_t* path;
    bool lastMayBeFile;
    bool createSucceeds;
    ErrorCode expected;
    std::vector<std::wstring> created;
  };
  const std::vector<Case> cases = {
      {L"D:\\Logs\\Service", true, true, 0, {L"\\\\?\\D:\\Logs\\", L"\\\\?\\D:\\Logs\\Service\\"}},
      {L"D:\\Logs\\2024.old", true, true, 0, {L"\\\\?\\D:\\Logs\\"}},
      {L"D:\\Logs\\2024.old", false, true, 0, {L"\\\\?\\D:\\Logs\\", L"\\\\?\\D:\\Logs\\2024.old\\"}},
      {L"D:/Logs//x/../Service/", true, true, 0, {L"\\\\?\\D:\\Logs\\", L"\\\\?\\D:\\Logs\\Service\\"}},
      {L"D:\\Logs\\Service", true, false, err::CannotCreateFolder, {L"\\\\?\\D:\\Logs\\"}},
  };
  for (const Case& c : cases) {
    FakeCalls calls;
    calls.createSucceeds = c.createSucceeds;
    EXPECT_EQ(c.expected, CreateFolders(c.path, c.lastMayBeFile, calls).Last()) << c.path;
    EXPECT_EQ(c.created, calls.created) << c.path;
  }
}

TEST(CreateFoldersTest, ExistingPathSucceedsAtOnce) {
  FakeCalls calls;
  calls.existing.insert(L"D:\\Logs\\Service");
  EXPECT_FALSE(CreateFolders(L"D:\\Logs\\Service", true, calls).Failed());
  EXPECT_EQ(1u, calls.looked.size());
  EXPECT_TRUE(calls.created.empty());
}

TEST(StopEventTest, NamedAfterTheInstanceManualResetNotSignalled) {
  EXPECT_EQ(L"EventStopEvent_" + InstanceSuffix(), StopEventName());
  EXPECT_EQ(std::wstring::npos, StopEventName().find(L'\\'));

  HandleHolder stop;
  ForeignObject refused;
  ASSERT_FALSE(CreateStopEvent(stop, refused).Failed());
  ASSERT_TRUE(stop.IsOpen());
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(stop.Get(), 0));

  HANDLE byName = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, StopEventName().c_str());
  ASSERT_NE(nullptr, byName);
  ASSERT_TRUE(::SetEvent(byName));
  ::CloseHandle(byName);
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(stop.Get(), 0));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(stop.Get(), 0)) << "manual reset";

  // Creating it again closes the held handle first; that was the event's only handle,
  // so the event is made afresh, not signalled.
  const HANDLE old = stop.Get();
  ASSERT_FALSE(CreateStopEvent(stop, refused).Failed());
  ASSERT_TRUE(stop.IsOpen());
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(stop.Get(), 0));
  if (stop.Get() != old) {
    DWORD flags = 0;
    EXPECT_FALSE(::GetHandleInformation(old, &flags));
  }
}

}  // namespace
}  // namespace kv
