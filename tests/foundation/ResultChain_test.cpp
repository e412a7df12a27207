#include "foundation/ResultChain.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "foundation/TextFormat.h"

namespace kv {
namespace {

std::vector<ErrorCode> Stored(const ResultChain& c) { return c.Codes(); }

TEST(ResultChain, EmptyChainIsSuccess) {
  ResultChain chain;
  EXPECT_EQ(chain.Count(), 0u);
  EXPECT_EQ(chain.Last(), 0u);
  EXPECT_EQ(chain.ToText(), L"0x0:Success");
  EXPECT_EQ(ResultChain(0).Count(), 0u);
}

TEST(ResultChain, PlusReadsLeftThenRight) {
  // 5 + Line(201), passed on with + Line(57): stored outermost first, read root first.
  const ResultChain inner = ResultChain(5) + LineMarker(201);
  const ResultChain outer = inner + LineMarker(57);
  EXPECT_EQ(Stored(outer), (std::vector<ErrorCode>{0x20000039, 0x200000C9, 5}));
  EXPECT_EQ(outer.Last(), 5u);
  EXPECT_EQ(outer.Count(), 3u);

  const ResultChain joined = (ResultChain(7) + LineMarker(1)) + (ResultChain(9) + LineMarker(2));
  EXPECT_EQ(Stored(joined), (std::vector<ErrorCode>{LineMarker(2), 9, LineMarker(1), 7}));
}

TEST(ResultChain, EmptyLeftSideSwallowsTheRight) {
  EXPECT_EQ((ResultChain() + (ResultChain(5) + LineMarker(3))).Count(), 0u);
  EXPECT_EQ((ResultChain(0) + ResultChain(9)).Count(), 0u);
  const ResultChain a = ResultChain(5) + LineMarker(3);
  EXPECT_EQ(a + ResultChain(), a);
  EXPECT_EQ(a + ResultChain(0), a);
}

TEST(ResultChain, AddMakesTheNewRootCauseAndZeroEmpties) {
  ResultChain chain(LineMarker(10));
  chain.Add(0x617A0008);
  EXPECT_EQ(chain.Last(), 0x617A0008u);
  EXPECT_TRUE(chain.Contains(LineMarker(10)));
  chain.Add(0);
  EXPECT_EQ(chain.Count(), 0u);
  EXPECT_EQ(chain.Last(), 0u);
}

TEST(ResultChain, MarkerMacroCarriesTheLineOfItsStatementAndEvaluatesOnce) {
  int evaluations = 0;
  const unsigned line = __LINE__ + 1;
  const ResultChain chain = KV_MARK((++evaluations, ErrorCode{5}));
  EXPECT_EQ(evaluations, 1);
  ASSERT_EQ(chain.Count(), 2u);
  EXPECT_EQ(chain.Codes().front(), LineMarker(line));
  EXPECT_EQ(chain.Last(), 5u);

  const unsigned outerLine = __LINE__ + 1;
  const ResultChain passedOn = KV_MARK(chain);
  EXPECT_EQ(passedOn.Codes().front(), LineMarker(outerLine));
  EXPECT_EQ(passedOn.Count(), 3u);
  EXPECT_EQ(KV_MARK(ResultChain()).Count(), 0u) << "a success passed on stays a success";
}

TEST(ResultChain, CodeKinds) {
  struct Case {
    ErrorCode code;
    bool system, line, family;
  } cases[] = {
      {5, true, false, false},
      {0x1FFFFFFF, true, false, false},
      {0x20000000, false, true, false},
      {0x2000FFFF, false, true, false},
      {0x20010000, false, false, true},
      {0x617A0008, false, false, true},
      {0xE0000001, false, false, true},
      {0x7FFFFFFF, false, false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSystemCode(c.code), c.system) << std::hex << c.code;
    EXPECT_EQ(IsLineMarker(c.code), c.line) << std::hex << c.code;
    EXPECT_EQ(IsFamilyCode(c.code), c.family) << std::hex << c.code;
  }
}

TEST(ResultChainText, LineMarkersAndSystemMessages) {
  EXPECT_EQ(ResultChain(0x2000FFFF).ToText(), L"Line(65535),");
  EXPECT_EQ(ResultChain(LineBase).ToText(), L"Line(0),");

  // The system's message for code 5 ends with a line break, which the text form drops.
  const std::wstring message = SystemMessageText(5, 0);
  ASSERT_FALSE(message.empty());
  ASSERT_EQ(message.back(), L'\n');
  std::wstring flat = message;
  std::erase(flat, L'\r');
  std::erase(flat, L'\n');
  const ResultChain chain = (ResultChain(5) + LineMarker(201)) + LineMarker(57);
  EXPECT_EQ(chain.ToText(), L"0x5:" + flat + L",Line(201),Line(57),");
}

TEST(ResultChainText, UnknownSystemCodeHasAnEmptyMessage) {
  // No system message exists for this code: the piece ends right after the colon.
  EXPECT_EQ(ResultChain(0x1FFFFF00).ToText(), L"0x1FFFFF00:,");
}

TEST(ResultChainText, SystemMessagesWithInsertsAreSafe) {
  // These messages hold "%1"-style inserts and no arguments are supplied for them.
  for (ErrorCode code : {ErrorCode{ERROR_BAD_EXE_FORMAT}, ErrorCode{ERROR_MR_MID_NOT_FOUND}, ErrorCode{1455}}) {
    const std::wstring text = ResultChain(code).ToText();
    const std::wstring prefix = FormatText(L"0x%X:", code);
    EXPECT_EQ(text.rfind(prefix, 0), 0u) << code;
    EXPECT_EQ(text.back(), L',') << code;
    EXPECT_EQ(text.find(L'\n'), std::wstring::npos) << code;
  }
}

TEST(ResultChainText, LastErrorBecomesTheChain) {
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(LastErrorChain().Codes(), std::vector<ErrorCode>(1, ERROR_FILE_NOT_FOUND));
  ::SetLastError(0);
  EXPECT_EQ(LastErrorChain().Count(), 0u);
}

}  // namespace
}  // namespace kv
