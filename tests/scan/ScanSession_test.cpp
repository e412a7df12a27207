#include "scan/ScanSession.h"

#include <gtest/gtest.h>

#include "foundation/ErrorCodes.h"
#include "support/FaultEngineControl.h"
#include "support/ResultAssertions.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

class ScanSessionTest : public ::testing::Test {
 protected:
  test::FaultEngineControl engine_{L"FaultEngine.dll"};
  ScanSession session_;

  void SetUp() override { ASSERT_TRUE(engine_.Loaded()); }
  void Open() { ASSERT_OK(session_.Open(engine_.Path())); }
};

TEST_F(ScanSessionTest, EveryOperationReachesItsTablePosition) {
  Open();
  std::wstring text;
  EXPECT_OK(session_.ReadIniText(text));
  EXPECT_OK(session_.CheckInitialized());
  std::wstring result;
  EXPECT_OK(session_.Initialize(L"[Setting]\r\n", result));
  EXPECT_NE(result.find(L"[Initialize]"), std::wstring::npos);
  EXPECT_OK(session_.Update(L"[FaultEngine]\r\nDefinitionVersion=42\r\n", result));
  EXPECT_NE(result.find(L"DefinitionVersion=42"), std::wstring::npos);
  EXPECT_OK(session_.Close());

  for (const wchar_t* op : {L"GetInterfaceVersion", L"GetIniText", L"CheckInitialized", L"Initialize",
                            L"UpdateDefinition", L"Uninitialize", L"CreateObject", L"ReleaseObject"}) {
    EXPECT_EQ(engine_.Calls(op), 1) << op;
  }
  EXPECT_EQ(engine_.Calls(L"Unused"), 0) << "positions 1, 6 and 7 are never called";
  EXPECT_EQ(engine_.LiveObjects(), 0);
  EXPECT_FALSE(session_.Module().Loaded());
}

TEST_F(ScanSessionTest, FailureWithAnEmptyRecordReadsAsSuccess) {
  Open();
  engine_.Configure(L"UpdateResult=EmptyRecord");
  std::wstring result;
  EXPECT_OK(session_.Update(L"", result));
}

TEST_F(ScanSessionTest, UpdateKeepsTheResultTextOfAFailureInitializeDoesNot) {
  Open();
  engine_.Configure(L"UpdateResult=AlreadyLatest\nInitializeFails=1");
  std::wstring result = L"before";
  const ResultChain update = session_.Update(L"", result);
  EXPECT_EQ(update.Codes(), std::vector<ErrorCode>{err::AlreadyLastestDefinition});
  EXPECT_NE(result.find(L"[ScannerVersion]"), std::wstring::npos);

  result = L"untouched";
  EXPECT_EQ(session_.Initialize(L"", result).Last(), 0x7ED00003u);
  EXPECT_EQ(result, L"untouched");
}

TEST_F(ScanSessionTest, IniTextThatNeedsALargerBufferIsAskedForTwice) {
  engine_.Configure(L"IniTextUnits=3000");
  Open();
  std::wstring text;
  ASSERT_OK(session_.ReadIniText(text));
  EXPECT_EQ(text.size(), 2999u);
  EXPECT_EQ(engine_.Calls(L"GetIniText"), 2);
  EXPECT_EQ(text.rfind(L"[Setting]\r\nIniKey=FaultEngine\r\n", 0), 0u);
}

TEST_F(ScanSessionTest, FailedCloseKeepsEngineAndLibraryAndTheNextOpenReleasesTheOldObject) {
  Open();
  engine_.Configure(L"UninitializeFails=1");
  const ResultChain close = session_.Close();
  EXPECT_EQ(close.Codes(), std::vector<ErrorCode>{0x7ED00002});
  EXPECT_TRUE(session_.HasEngine());
  EXPECT_TRUE(session_.Module().Loaded());

  // Reopening skips the load, gives the stranded object back and creates a new one.
  Open();
  EXPECT_EQ(engine_.LiveObjects(), 1);
  EXPECT_EQ(engine_.Calls(L"CreateObject"), 2);

  engine_.Configure(L"UninitializeFails=0");
  EXPECT_OK(session_.Close());
  EXPECT_EQ(engine_.LiveObjects(), 0);
}

TEST_F(ScanSessionTest, OperationsWithoutAnEngine) {
  std::wstring text = L"kept";
  EXPECT_OK(session_.Close()) << "closing a session never opened succeeds";
  EXPECT_EQ(session_.ReadIniText(text).Last(), err::InvalidObject);
  EXPECT_EQ(session_.CheckInitialized().Last(), err::InvalidObject);
  EXPECT_EQ(session_.Update(L"", text).Last(), err::InvalidObject);
  EXPECT_EQ(session_.Initialize(L"", text).Last(), err::InvalidObject);
  EXPECT_EQ(text, L"kept");
}

TEST_F(ScanSessionTest, InitializeResetsTheInitEventEvenWithoutAnEngine) {
  ASSERT_OK(session_.InitEvent().Create(false, true));
  ASSERT_EQ(::WaitForSingleObject(session_.InitEvent().Get(), 0), WAIT_OBJECT_0);
  std::wstring result;
  (void)session_.Initialize(L"", result);  // refused without an engine: only the event counts
  EXPECT_EQ(::WaitForSingleObject(session_.InitEvent().Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(ScanSessionVersion, OtherInterfaceVersionsAreRefusedAndReleased) {
  for (const wchar_t* dll : {L"FaultEngineV5.dll", L"FaultEngineV7.dll"}) {
    SCOPED_TRACE(dll);
    test::FaultEngineControl engine(dll);
    ASSERT_TRUE(engine.Loaded());
    ScanSession session;
    EXPECT_EQ(session.Open(engine.Path()).Codes(), std::vector<ErrorCode>{err::NotSupportVersion});
    EXPECT_FALSE(session.HasEngine());
    EXPECT_EQ(engine.LiveObjects(), 0) << "the refused object goes back to its library";
  }
}

TEST(ScanSessionVersion, AnObjectWithoutItsTableIsRefusedAndReleased) {
  test::FaultEngineControl engine(L"FaultEngine.dll");
  ASSERT_TRUE(engine.Loaded());
  engine.Configure(L"NullTable=1");
  ScanSession session;
  EXPECT_EQ(session.Open(engine.Path()).Codes(), std::vector<ErrorCode>{err::InvalidObject});
  EXPECT_FALSE(session.HasEngine());
  EXPECT_EQ(engine.LiveObjects(), 0);
}

TEST(ScanModule, LibraryWithoutTheErrorTableExportIsNotLeftLoaded) {
  const std::wstring path = test::ProgramFolder() + L"\\FaultEngineNoTable.dll";
  ScanModule module;
  EXPECT_EQ(module.Load(path), err::InavlidDllFunction);
  EXPECT_FALSE(module.Loaded());
  EXPECT_EQ(module.Check(), err::InvalidObject);
  EXPECT_EQ(::GetModuleHandleW(path.c_str()), nullptr);
}

TEST(ScanModule, OnlyFullPathsAreLoaded) {
  ::SetCurrentDirectoryW(test::ProgramFolder().c_str());
  ScanModule module;
  for (const wchar_t* path : {L"", L"FaultEngine.dll", L".\\FaultEngine.dll", L"\\FaultEngine.dll"}) {
    EXPECT_EQ(module.Load(path), err::InvalidPath) << path;
    EXPECT_FALSE(module.Loaded());
  }
  EXPECT_EQ(module.Load(test::ProgramFolder() + L"\\NoSuchEngine.dll"), static_cast<ErrorCode>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(module.Load(test::ProgramFolder() + L"\\FaultEngine.dll"), 0u);
  EXPECT_EQ(module.Check(), 0u);
}

TEST(EngineRecord, CodesAreAddedInOrderAndTheCountIsBounded) {
  EngineErrorRecord record{};
  record.codes[0] = 0x617A0008;
  record.codes[1] = 0;  // a zero clears what came before it
  record.codes[2] = 0x7ED00004;
  record.codes[3] = LineMarker(12);
  record.count = 4;
  EXPECT_EQ(RecordChain(record).Codes(), (std::vector<ErrorCode>{0x7ED00004, LineMarker(12)}));

  for (auto& c : record.codes) c = 7;
  record.count = 0xFFFFFFFF;  // a misbehaving engine
  EXPECT_EQ(RecordChain(record).Count(), EngineErrorRecord::kCapacity);
}

}  // namespace
}  // namespace kv
