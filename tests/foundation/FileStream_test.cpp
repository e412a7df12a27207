#include "foundation/FileStream.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = test::FreshFolder(L"filestream"); }
  void TearDown() override { test::RemoveTree(folder_); }
  std::wstring folder_;
};

TEST_F(FileStreamTest, WritesAndReadsBackEveryByte) {
  const std::wstring path = folder_ + L"\\data.bin";
  std::string bytes("line\r\n\0\x1A\xFF end", 13);
  {
    FileStream out;
    ASSERT_FALSE(out.OpenWrite(path).Failed());
    EXPECT_EQ(out.OpenedName(), L"\\\\?\\" + NormalizePath(path));
    ASSERT_FALSE(out.WriteAll(bytes).Failed());
    ASSERT_FALSE(out.Close().Failed());
    EXPECT_FALSE(out.IsOpen());
  }
  FileStream in;
  ASSERT_FALSE(in.OpenRead(path).Failed());
  std::string back;
  ASSERT_FALSE(in.ReadAll(back).Failed());
  EXPECT_EQ(back, bytes);
  EXPECT_EQ(test::ReadFileBytes(path), bytes);
}

TEST_F(FileStreamTest, AppendModeWritesAtTheEnd) {
  const std::wstring path = folder_ + L"\\append.txt";
  ASSERT_TRUE(test::WriteFileBytes(path, "one,"));
  {
    FileStream out;
    ASSERT_FALSE(out.Open(path, L"ab").Failed());
    ASSERT_FALSE(out.WriteAll("two").Failed());
  }  // the destructor closes and flushes
  EXPECT_EQ(test::ReadFileBytes(path), "one,two");
}

TEST_F(FileStreamTest, EmptyFileReadsAsEmptySuccess) {
  const std::wstring path = folder_ + L"\\empty.bin";
  ASSERT_TRUE(test::WriteFileBytes(path, ""));
  FileStream in;
  ASSERT_FALSE(in.OpenRead(path).Failed());
  std::string bytes = "stale";
  EXPECT_FALSE(in.ReadAll(bytes).Failed());
  EXPECT_EQ(bytes, "");
}

TEST_F(FileStreamTest, ModesMustSuitTheUse) {
  const std::wstring path = folder_ + L"\\never.bin";
  struct Case {
    const char* label;
    int use;  // 0 read entry, 1 write entry, 2 generic
    const wchar_t* mode;
  };
  const Case cases[] = {
      {"read entry with wb", 0, L"wb"}, {"read entry with ab", 0, L"ab"}, {"write entry with rb", 1, L"rb"},
      {"write entry with empty mode", 1, L""}, {"generic with x", 2, L"xb"}, {"generic empty", 2, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    FileStream stream;
    const ResultChain result = c.use == 0   ? stream.OpenRead(path, c.mode)
                               : c.use == 1 ? stream.OpenWrite(path, c.mode)
                                            : stream.Open(path, c.mode);
    EXPECT_EQ(result.Last(), err::InvalidMode);
    EXPECT_FALSE(stream.IsOpen());
    // Refused before the file is touched: "wb" would have created it.
    EXPECT_FALSE(Exists(path));
  }
}

TEST_F(FileStreamTest, OperationsMustSuitTheOpenStream) {
  const std::wstring path = folder_ + L"\\use.bin";
  ASSERT_TRUE(test::WriteFileBytes(path, "keep"));
  std::string bytes;
  FileStream closed;
  EXPECT_EQ(closed.ReadAll(bytes).Last(), err::InvalidMode);
  EXPECT_EQ(closed.WriteAll("x").Last(), err::InvalidMode);
  EXPECT_FALSE(closed.Close().Failed());

  FileStream reader;
  ASSERT_FALSE(reader.OpenRead(path).Failed());
  EXPECT_EQ(reader.WriteAll("x").Last(), err::InvalidMode);
  FileStream writer;
  ASSERT_FALSE(writer.OpenWrite(folder_ + L"\\other.bin").Failed());
  EXPECT_EQ(writer.ReadAll(bytes).Last(), err::InvalidMode);
  EXPECT_FALSE(writer.WriteAll("").Failed());
}

TEST_F(FileStreamTest, FailedSizeIsNeverAnEmptyFile) {
  const std::wstring path = folder_ + L"\\busy.bin";
  ASSERT_TRUE(test::WriteFileBytes(path, "precious content"));
  FileStream in;
  ASSERT_FALSE(in.OpenRead(path).Failed());
  std::string bytes = "untouched";
  const ResultChain result = in.ReadAll(bytes, [](const std::wstring&, std::uint64_t&) -> ResultChain {
    return KV_MARK(ERROR_SHARING_VIOLATION);
  });
  ASSERT_TRUE(result.Failed());
  EXPECT_EQ(result.Last(), static_cast<ErrorCode>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(result.Count(), 3u);  // the query's marker and the reader's
  EXPECT_EQ(bytes, "untouched");

  const ResultChain tooLarge = in.ReadAll(bytes, [](const std::wstring&, std::uint64_t& size) -> ResultChain {
    size = 0xFFFFFFFFull;
    return {};
  });
  EXPECT_EQ(tooLarge.Last(), err::SizelimitOver);
}

TEST_F(FileStreamTest, MissingFileCannotBeOpenedForReading) {
  FileStream in;
  const ResultChain result = in.OpenRead(folder_ + L"\\missing.bin");
  EXPECT_EQ(result.Last(), err::CannotOpenFile);
  EXPECT_FALSE(in.IsOpen());
  EXPECT_EQ(in.OpenRead(L"").Last(), err::InvalidPath);
}

TEST_F(FileStreamTest, LongPathPrefixUnlessShortUnc) {
  FileStream drive;
  (void)drive.OpenRead(L"C:\\kv_no_such_dir\\a.txt");
  EXPECT_EQ(drive.OpenedName(), L"\\\\?\\C:\\kv_no_such_dir\\a.txt");
  FileStream unc;
  (void)unc.OpenRead(L"\\\\kv-no-such-server\\share\\a.txt");
  EXPECT_EQ(unc.OpenedName(), L"\\\\kv-no-such-server\\share\\a.txt");
  FileStream longUnc;
  const std::wstring tail = L"kv-no-such-server\\share\\" + std::wstring(250, L'x');
  (void)longUnc.OpenRead(L"\\\\" + tail);
  EXPECT_EQ(longUnc.OpenedName(), L"\\\\?\\UNC\\" + tail);
  FileStream native;
  (void)native.OpenRead(L"\\??\\C:\\kv_no_such_dir\\.\\b\\..\\a.txt");
  EXPECT_EQ(native.OpenedName(), L"\\\\?\\C:\\kv_no_such_dir\\a.txt");
}

TEST_F(FileStreamTest, RelativePathsAreTakenFromTheProgramFolder) {
  const std::wstring name = L"kv_filestream_relative.tmp";
  FileStream out;
  ASSERT_FALSE(out.OpenWrite(L"sub\\..\\" + name).Failed());
  ASSERT_FALSE(out.WriteAll("rel").Failed());
  ASSERT_FALSE(out.Close().Failed());
  const std::wstring expected = test::ProgramFolder() + L"\\" + name;
  EXPECT_EQ(test::ReadFileBytes(expected), "rel");
  ::DeleteFileW(expected.c_str());
}

TEST_F(FileStreamTest, PathsLongerThanTheClassicLimit) {
  // Nested folders created through the long-path form, since the plain one stops at 260.
  std::wstring path = folder_;
  const std::wstring segment(60, L's');
  for (int level = 0; level < 5; ++level) {
    path += L"\\" + segment + std::to_wstring(level);
    ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr)) << ::GetLastError();
  }
  const std::wstring file = path + L"\\long_named_file.bin";
  ASSERT_GT(file.size(), 300u);
  const std::string bytes = "beyond the classic limit\r\n";
  {
    FileStream out;
    ASSERT_FALSE(out.OpenWrite(file).Failed());
    ASSERT_FALSE(out.WriteAll(bytes).Failed());
    ASSERT_FALSE(out.Close().Failed());
  }
  FileStream in;
  ASSERT_FALSE(in.OpenRead(file).Failed());
  std::string back;
  ASSERT_FALSE(in.ReadAll(back).Failed());
  EXPECT_EQ(back, bytes);
  ASSERT_FALSE(in.Close().Failed());
  test::RemoveTree(L"\\\\?\\" + folder_);
}

TEST_F(FileStreamTest, MovedStreamKeepsTheFile) {
  const std::wstring path = folder_ + L"\\moved.bin";
  FileStream first;
  ASSERT_FALSE(first.OpenWrite(path).Failed());
  FileStream second(std::move(first));
  EXPECT_TRUE(second.IsOpen());
  ASSERT_FALSE(second.WriteAll("moved").Failed());
  ASSERT_FALSE(second.Close().Failed());
  EXPECT_EQ(test::ReadFileBytes(path), "moved");
}

}  // namespace
}  // namespace kv
