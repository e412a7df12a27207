#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "config/IniDocument.h"
#include "foundation/ErrorCodes.h"
#include "log/MonthlyLog.h"
#include "schedule/TimePoint.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

std::string Stamp(std::int32_t value) { return test::LocalStamp(value); }

std::int32_t Local(int year, int month, int day, int hour, int minute, int second) {
  TimePoint time;
  EXPECT_FALSE(time.Set(year, month, day, hour, minute, second).Failed());
  return time.Value();
}

SYSTEMTIME FileMonth() {
  SYSTEMTIME month{};
  month.wYear = 2024;
  month.wMonth = 3;
  month.wDay = 5;
  return month;
}

// A log in a fresh folder whose file is always March 2024's.
struct RecordFixture {
  explicit RecordFixture(const wchar_t* name) : folder(test::FreshFolder(name)), log([] { return FileMonth(); }) {
    setFolder = log.SetFolder(folder);
  }
  ~RecordFixture() { test::RemoveTree(folder); }
  std::string Text() const { return test::ReadFileBytes(log.MonthFile(FileMonth())); }

  std::wstring folder;
  MonthlyLog log;
  ResultChain setFolder;
};

IniDocument SettingsWithUpdateTime(const wchar_t* value) {
  IniDocument settings;
  (void)settings.SetString(L"UpdateTime", value, L"Kestravondal");
  return settings;
}

TEST(NextTimeRecordTest, RecordLinesInOrder) {
  struct Case {
    const wchar_t* comment;
    const wchar_t* updateTime;  // null: no such key
    const char* commentLine;
    const char* updateTimeLine;
  };
  const Case cases[] = {
      {L"manual", L"03:00", ";manual\r\n", "UpdateTime=03:00\r\n"},
      {L"", L"03:00", "", "UpdateTime=03:00\r\n"},
      {L"x", nullptr, ";x\r\n", "UpdateTime=\r\n"},
      {L"", L"", "", "UpdateTime=\r\n"},
      {L"a b=c", L"7:5", ";a b=c\r\n", "UpdateTime=7:5\r\n"},  // the value as it stands
      {L"100%s", L"03:00:00", ";100%s\r\n", "UpdateTime=03:00:00\r\n"},
  };
  for (const Case& c : cases) {
    RecordFixture f(L"nexttime_lines");
    ASSERT_FALSE(f.setFolder.Failed());
    IniDocument settings;
    if (c.updateTime != nullptr) settings = SettingsWithUpdateTime(c.updateTime);
    const std::int32_t written = Local(2024, 3, 5, 14, 7, 9);
    const std::int32_t next = Local(2024, 3, 6, 3, 0, 0);
    EXPECT_FALSE(f.log.WriteNextTime(settings, TimePoint(next), c.comment, TimePoint(written)).Failed());
    EXPECT_EQ("[NextTime_" + Stamp(written) + "]\r\n" + c.commentLine + "NextTime=" + Stamp(next) + "\r\n" +
                  c.updateTimeLine + "\r\n",
              f.Text())
        << testing::PrintToString(std::wstring(c.comment));
  }
}

TEST(NextTimeRecordTest, HeaderIsTheTimeOfWritingNotTheNextTime) {
  RecordFixture f(L"nexttime_header");
  ASSERT_FALSE(f.setFolder.Failed());
  IniDocument settings = SettingsWithUpdateTime(L"03:00");
  const std::int32_t written = Local(2024, 3, 5, 14, 7, 9);
  ASSERT_FALSE(f.log.WriteNextTime(settings, TimePoint(written + 3600), L"", TimePoint(written)).Failed());
  const std::string text = f.Text();
  EXPECT_EQ(0u, text.find("[NextTime_" + Stamp(written) + "]\r\n")) << text;
  EXPECT_NE(std::string::npos, text.find("NextTime=" + Stamp(written + 3600) + "\r\n")) << text;
  EXPECT_NE(Stamp(written), Stamp(written + 3600));
}

TEST(NextTimeRecordTest, InvalidTimesPrintAsYear1900Day0) {
  RecordFixture f(L"nexttime_invalid");
  ASSERT_FALSE(f.setFolder.Failed());
  IniDocument settings = SettingsWithUpdateTime(L"03:00");
  ASSERT_FALSE(f.log.WriteNextTime(settings, TimePoint(-1), L"", TimePoint(0)).Failed());
  EXPECT_EQ("[NextTime_" + Stamp(0) + "]\r\nNextTime=19000100_000000\r\nUpdateTime=03:00\r\n\r\n", f.Text());

  RecordFixture g(L"nexttime_invalid_now");
  ASSERT_FALSE(g.setFolder.Failed());
  ASSERT_FALSE(g.log.WriteNextTime(settings, TimePoint(0), L"", TimePoint(-1)).Failed());
  EXPECT_EQ("[NextTime_19000100_000000]\r\nNextTime=" + Stamp(0) + "\r\nUpdateTime=03:00\r\n\r\n", g.Text());
}

TEST(NextTimeRecordTest, TwoRecordsInTheSameSecondAreBothAppended) {
  RecordFixture f(L"nexttime_twice");
  ASSERT_FALSE(f.setFolder.Failed());
  IniDocument settings = SettingsWithUpdateTime(L"03:00");
  const std::int32_t written = Local(2024, 3, 5, 14, 7, 9);
  const std::int32_t next = Local(2024, 3, 6, 3, 0, 0);
  ASSERT_FALSE(f.log.WriteNextTime(settings, TimePoint(next), L"one", TimePoint(written)).Failed());
  (void)settings.SetString(L"UpdateTime", L"09:00", L"Kestravondal");
  ASSERT_FALSE(f.log.WriteNextTime(settings, TimePoint(next + 21600), L"two", TimePoint(written)).Failed());
  const std::string header = "[NextTime_" + Stamp(written) + "]\r\n";
  EXPECT_EQ(header + ";one\r\nNextTime=" + Stamp(next) + "\r\nUpdateTime=03:00\r\n\r\n" + header +
                ";two\r\nNextTime=" + Stamp(next + 21600) + "\r\nUpdateTime=09:00\r\n\r\n",
            f.Text());
}

TEST(NextTimeRecordTest, WithoutTimeOfWritingTheRecordCarriesTheCurrentTime) {
  RecordFixture f(L"nexttime_clock");
  ASSERT_FALSE(f.setFolder.Failed());
  IniDocument settings = SettingsWithUpdateTime(L"03:00");
  const std::int32_t before = static_cast<std::int32_t>(std::time(nullptr));
  ASSERT_FALSE(f.log.WriteNextTime(settings, TimePoint(before + 100), L"c").Failed());
  const std::int32_t after = static_cast<std::int32_t>(std::time(nullptr));
  const std::string text = f.Text();
  const std::string tail = ";c\r\nNextTime=" + Stamp(before + 100) + "\r\nUpdateTime=03:00\r\n\r\n";
  bool matched = false;
  for (std::int32_t t = before; t <= after; ++t) matched = matched || text == "[NextTime_" + Stamp(t) + "]\r\n" + tail;
  EXPECT_TRUE(matched) << text;
}

TEST(NextTimeRecordTest, WithoutFolderNothingIsWrittenAndFileNotFoundReturns) {
  MonthlyLog log([] { return FileMonth(); });
  IniDocument settings = SettingsWithUpdateTime(L"03:00");
  const ResultChain result = log.WriteNextTime(settings, TimePoint(0), L"c", TimePoint(0));
  EXPECT_EQ(err::FileNotFound, result.Last());
  EXPECT_EQ(err::FileNotFound, log.WriteNextTime(settings, TimePoint(0), L"").Last());
}

TEST(NextTimeRecordTest, RecordIsReadableAsIni) {
  RecordFixture f(L"nexttime_ini");
  ASSERT_FALSE(f.setFolder.Failed());
  IniDocument settings = SettingsWithUpdateTime(L"03:00");
  const std::int32_t written = Local(2024, 3, 5, 14, 7, 9);
  const std::int32_t next = Local(2024, 3, 6, 3, 0, 0);
  ASSERT_FALSE(f.log.WriteNextTime(settings, TimePoint(next), L"note", TimePoint(written)).Failed());
  IniDocument read;
  ASSERT_FALSE(read.ParseBytes(f.Text()).Failed());
  const std::string section = "NextTime_" + Stamp(written);
  const std::wstring wideSection(section.begin(), section.end());
  const std::string nextStamp = Stamp(next);
  EXPECT_EQ(std::wstring(nextStamp.begin(), nextStamp.end()), read.GetString(L"NextTime", L"", wideSection));
  EXPECT_EQ(L"03:00", read.GetString(L"UpdateTime", L"", wideSection));
}

TEST(NextTimeRecordTest, JapaneseCommentsBecomeTheDefaultCharacterInTheWesternCodePage) {
  ASSERT_EQ(1252u, ::GetACP()) << "the main run is western; the Japanese one has a suite of its own";
  CPINFO info{};
  ASSERT_TRUE(::GetCPInfo(CP_ACP, &info));
  const char fallback = static_cast<char>(info.DefaultChar[0]);
  struct Case {
    const wchar_t* comment;
    std::size_t characters;
  };
  const Case cases[] = {{L"次回設定", 4}, {L"起動時設定", 5}};
  for (const Case& c : cases) {
    RecordFixture f(L"nexttime_1252");
    ASSERT_FALSE(f.setFolder.Failed());
    IniDocument settings = SettingsWithUpdateTime(L"03:00");
    ASSERT_FALSE(f.log.WriteNextTime(settings, TimePoint(0), c.comment, TimePoint(0)).Failed());
    EXPECT_EQ("[NextTime_" + Stamp(0) + "]\r\n;" + std::string(c.characters, fallback) + "\r\nNextTime=" + Stamp(0) +
                  "\r\nUpdateTime=03:00\r\n\r\n",
              f.Text());
  }
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// Runs only with Wine in code page 932.
TEST(CodePage932NextTime, JapaneseCommentsAreStoredInShiftJis) {
  ASSERT_EQ(932u, ::GetACP());
  struct Case {
    const wchar_t* comment;
    const char* bytes;
  };
  const Case cases[] = {
      {L"次回設定", "\x8E\x9F\x89\xF1\x90\xDD\x92\xE8"},
      {L"起動時設定", "\x8B\x4E\x93\xAE\x8E\x9E\x90\xDD\x92\xE8"},
  };
  for (const Case& c : cases) {
    RecordFixture f(L"nexttime_932");
    ASSERT_FALSE(f.setFolder.Failed());
    IniDocument settings = SettingsWithUpdateTime(L"03:00");
    const std::int32_t written = Local(2024, 3, 5, 14, 7, 9);
    const std::int32_t next = Local(2024, 3, 6, 3, 0, 0);
    ASSERT_FALSE(f.log.WriteNextTime(settings, TimePoint(next), c.comment, TimePoint(written)).Failed());
    EXPECT_EQ("[NextTime_" + Stamp(written) + "]\r\n;" + c.bytes + "\r\nNextTime=" + Stamp(next) +
                  "\r\nUpdateTime=03:00\r\n\r\n",
              f.Text());
  }
}

}  // namespace
}  // namespace kv
