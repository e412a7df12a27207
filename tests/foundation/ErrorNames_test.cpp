// The error-name tables: names, message texts, the name map and MergeNames.
// Expected names are copied from the published family lists, not from the table under test.
// The name map is process-wide and never shrinks, so every merge test uses codes of its
// own that no other test reads.
#include "foundation/ErrorNames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "foundation/ErrorNameTable.h"

namespace kv {
namespace {

struct NamedCode {
  ErrorCode code;
  const wchar_t* name;
};

// --- Edge cases ------------------------------------------------------------------

TEST(CodeText, MessageTextWins) {
  EXPECT_EQ(CodeText(0x32880003, 0), L"The definition file is up-to-date.");
  EXPECT_EQ(CodeText(0x29AA000D, 0), L"Log destination folder is not set.");
  EXPECT_EQ(CodeText(0x29AA0031, 0), L"Update-Thread.");
  EXPECT_EQ(CodeText(0x385A0025, 0), L"InvalidInstallPath");
  EXPECT_EQ(CodeText(0x32880004, 0),
            L"Failed to update Virus Definition File. \nThis program cannot recover from the error and will shutdown.");
}

TEST(CodeText, EmptyMessageTextFallsBackToName) {
  EXPECT_EQ(CodeText(0x32880002, 0), L"BreakInterrupt");
  // The Japanese and Chinese columns are not carried, so they read by name.
  EXPECT_EQ(CodeText(0x32880003, 1), L"AlreadyLastestDefinition");
  EXPECT_EQ(CodeText(0x29AA000D, 2), L"InvalidLogPath");
}

TEST(CodeText, NameWithoutMessageRow) {
  EXPECT_EQ(CodeText(0x385A0002, 0), L"InvalidNextTime");
  EXPECT_EQ(CodeText(0x385A0002, 1), L"InvalidNextTime");
  EXPECT_EQ(CodeText(0x385A0002, 2), L"InvalidNextTime");
  EXPECT_EQ(CodeText(0x6D5E0194, 0), L"HTTP_STATUS_404_NOT_FOUND");
  EXPECT_EQ(CodeText(0x6E722EE2, 0), L"WININET_ERROR_INTERNET_TIMEOUT");
}

TEST(CodeText, ConfigurationManagerAliasesComeFirst) {
  const NamedCode aliases[] = {
      {0x63610005, L"CM_CR_INVALID_DEVINST"},
      {0x6361000A, L"CM_CR_DEVINST_HAS_REQS"},
      {0x6361000D, L"CM_CR_NO_SUCH_DEVINST"},
      {0x63610010, L"CM_CR_ALREADY_SUCH_DEVINST"},
  };
  for (const auto& a : aliases) {
    EXPECT_EQ(CodeText(a.code, 0), a.name) << std::hex << a.code;
    EXPECT_EQ(CodeName(a.code), a.name) << std::hex << a.code;
  }
  // Their neighbours keep their own names.
  EXPECT_EQ(CodeName(0x63610004), L"CM_CR_INVALID_FLAG");
  EXPECT_EQ(CodeName(0x63610006), L"CM_CR_INVALID_RES_DES");
  EXPECT_EQ(CodeName(0x6361000E), L"CM_CR_NO_MORE_LOG_CONF");
  EXPECT_EQ(CodeName(0x63610011), L"CM_CR_INVALID_RANGE_LIST");
  // The shadowed DEVNODE rows are in the table all the same.
  int devnodeRows = 0;
  for (std::size_t i = 0; i < detail::kErrorNameTableSize; ++i) {
    const std::wstring name = detail::kErrorNameTable[i].name;
    if (name == L"CM_CR_INVALID_DEVNODE" || name == L"CM_CR_DEVNODE_HAS_REQS" || name == L"CM_CR_NO_SUCH_DEVNODE" ||
        name == L"CM_CR_ALREADY_SUCH_DEVNODE") {
      ++devnodeRows;
    }
  }
  EXPECT_EQ(devnodeRows, 4);
}

TEST(CodeText, UnknownCodesReadInvalidEnumValue) {
  // Gaps inside families, one past each family's last index, unknown families.
  const ErrorCode unknown[] = {0x617A0014, 0x617A00E3, 0x385A0030, 0x3288000C, 0x3288000E, 0x304C0006,
                               0x6A880007, 0x6A881002, 0x31400013, 0x29AA0063, 0x29AA006C, 0x29AA006E,
                               0x354D0029, 0x6D2F0016, 0x7EBF005B, 0x321C0077, 0x321C007B, 0x321C0089,
                               0x321C0403, 0x6361003C, 0x6E570033, 0x6D5E0066, 0x6D5E0132, 0x6D5E01FA,
                               0x6E722F03, 0x6E722F13, 0x6E722F8F, 0x2ABC0001, 0x20010000, 0x7FFFFFFE};
  for (ErrorCode c : unknown) {
    EXPECT_EQ(CodeText(c, 0), L"InvalidEnumValue") << std::hex << c;
    EXPECT_EQ(CodeName(c), L"InvalidEnumValue") << std::hex << c;
  }
  EXPECT_EQ(CodeText(0xFFFFFFFF, 0), L"InvalidEnumValue");  // the terminating row's code
  EXPECT_EQ(CodeText(0x7FFFFFFF, 0), L"InvalidEnumValue");
}

TEST(CodeText, ColumnsOutsideRangeAndCodeZeroAreEmpty) {
  EXPECT_EQ(CodeText(0x32880003, 3), L"");
  EXPECT_EQ(CodeText(0x385A0002, 3), L"");
  EXPECT_EQ(CodeText(0x385A0002, -1), L"");
  EXPECT_EQ(CodeText(0x2ABC0001, 3), L"");
  for (int column = 0; column < 3; ++column) EXPECT_EQ(CodeText(0, column), L"") << column;
  EXPECT_EQ(CodeName(0), L"Success");
}

// --- Every family, sampled ---------------------------------------------------------

// First, a middle and the last name of each family as the family lists give them, the index
// next to each gap, and the family bases.
TEST(CodeName, SamplesOfEveryFamily) {
  const NamedCode samples[] = {
      {0x29AA0001, L"First"},
      {0x29AA0032, L"UpdateHttpIni"},
      {0x29AA0062, L"ErrorOpenScan"},
      {0x29AA006D, L"ErrorPreInitialize"},
      {0x304C0001, L"WaitFinish"},
      {0x304C0003, L"WaitAbandoned"},
      {0x304C0005, L"NotSupportError"},
      {0x31400001, L"WininetInternetOpenError"},
      {0x3140000A, L"WininetUserCancelOptionDlg"},
      {0x31400012, L"WininetFailSystemTime"},
      {0x321C0071, L"DE_SAMEFILE"},
      {0x321C0076, L"DE_DESTSUBTREE"},
      {0x321C0078, L"DE_ACCESSDENIEDSRC"},
      {0x321C0080, L"DE_FILEDESTISFLD"},
      {0x321C00B7, L"DE_ERROR_MAX"},
      {0x321C0402, L"DE_SH_FILE_OP_UNKNOWN_ERROR"},
      {0x321CFFFF, L"ERRORONDEST"},
      {0x32880001, L"First"},
      {0x32880007, L"CA_VirusRepair"},
      {0x3288000B, L"CA_DeleteFail"},
      {0x3288000D, L"BusyUncUpdating"},
      {0x354D0001, L"ApplicationName"},
      {0x354D0015, L"ErrorOnWP"},
      {0x354D0028, L"KeyFileDll"},
      {0x385A0001, L"ApplicationName"},
      {0x385A0018, L"UpdateStartPopupText"},
      {0x385A002F, L"DownloadUncInfo"},
      {0x617A0001, L"FailDosFormat"},
      {0x617A0013, L"InvalidTotalSize"},
      {0x617A0015, L"InvalidLevel"},
      {0x617A0072, L"InvalidMode"},
      {0x617A0088, L"FailQueryNmFailCoCreateInstance"},
      {0x617A00C6, L"InavlidDllFunction"},
      {0x617A00E2, L"FailReadHttpQueryInfo"},
      {0x63610001, L"CM_CR_DEFAULT"},
      {0x6361001C, L"CM_CR_NO_REGISTRY_HANDLE"},
      {0x6361003B, L"CM_CR_INVALID_STRUCTURE_SIZE"},
      {0x6A880001, L"StrTypeAnsi"},
      {0x6A880005, L"StrTyepBom"},
      {0x6A880006, L"StrTyepSjis"},
      {0x6A881000, L"StrTypeLittleEndian"},
      {0x6A881001, L"StrTypeBigEndian"},
      {0x6A88FFFF, L"StrTypeUnknown"},
      {0x6D2F0001, L"ScanUpdate"},
      {0x6D2F000B, L"ErrorRegisterFeature"},
      {0x6D2F0015, L"FailStartMonitor"},
      {0x6D5E0001, L"HTTP_STATUS_UNKNOWN_ERROR"},
      {0x6D5E0064, L"HTTP_STATUS_100_CONTINUE"},
      {0x6D5E0131, L"HTTP_STATUS_305_USE_PROXY"},
      {0x6D5E0133, L"HTTP_STATUS_307_REDIRECT_KEEP_VERB"},
      {0x6D5E0193, L"HTTP_STATUS_403_FORBIDDEN"},
      {0x6D5E01C1, L"HTTP_STATUS_449_RETRY_WITH"},
      {0x6D5E01F9, L"HTTP_STATUS_505_VERSION_NOT_SUP"},
      {0x6E570001, L"CM_ERR_NOT_CONFIGURED"},
      {0x6E57001A, L"CM_ERR_TOO_EARLY"},
      {0x6E570031, L"CM_ERR_REGISTRY_TOO_LARGE"},
      {0x6E570032, L"CM_ERR_NUM_CM_ERR"},
      {0x6E722EE1, L"WININET_ERROR_INTERNET_OUT_OF_HANDLES"},
      {0x6E722F02, L"WININET_ERROR_INTERNET_NEED_UI"},
      {0x6E722F04, L"WININET_ERROR_INTERNET_HANDLE_EXISTS"},
      {0x6E722F10, L"WININET_ERROR_INTERNET_REDIRECT_SCHEME_CHANGE"},
      {0x6E722F12, L"WININET_ERROR_INTERNET_RETRY_DIALOG"},
      {0x6E722F14, L"WININET_ERROR_INTERNET_HTTPS_HTTP_SUBMIT_REDIR"},
      {0x6E722F4E, L"WININET_ERROR_FTP_TRANSFER_IN_PROGRESS"},
      {0x6E722F8E, L"WININET_ERROR_INTERNET_LOGIN_FAILURE_DISPLAY_ENTITY_BODY"},
      {0x7EBF0001, L"First"},
      {0x7EBF002E, L"ThAddFolder"},
      {0x7EBF005A, L"UncFileNotFound"},
      // Bases and the fixed names.
      {0x20000000, L"LineBase"},
      {0x29AA0000, L"VirusWatchScanBase"},
      {0x304C0000, L"AfxThreadBase"},
      {0x31400000, L"WininetKeyBase"},
      {0x321C0000, L"ShFileOperationKeyBase"},
      {0x32880000, L"VirusScanBase"},
      {0x354D0000, L"PramselBase"},
      {0x385A0000, L"KestravondalBase"},
      {0x617A0000, L"NmErrorBase"},
      {0x63610000, L"CM_ErrorBase"},
      {0x6A880000, L"StringTypeBase"},
      {0x6D2F0000, L"TovrikBase"},
      {0x6D5E0000, L"HttpStatusBase"},
      {0x6E570000, L"CM_ErrorStatusBase"},
      {0x6E720000, L"WininetErrorBase"},
      {0x7EBF0000, L"EngineScanBase"},
      {0x7FFFFFFF, L"InvalidEnumValue"},
  };
  for (const auto& s : samples) {
    EXPECT_EQ(CodeName(s.code), s.name) << std::hex << s.code;
    EXPECT_EQ(CodeText(s.code, 0), s.name) << std::hex << s.code;
  }
}

// The constants that code uses by name agree with the table.
TEST(CodeName, NamedConstants) {
  const NamedCode constants[] = {
      {err::InvalidArgument, L"InvalidArgument"},
      {err::InvalidArgumentNullPointer, L"InvalidArgumentNullPointer"},
      {err::FileNotFound, L"FileNotFound"},
      {err::InvalidPath, L"InvalidPath"},
      {err::InvalidKey, L"InvalidKey"},
      {err::AlreadyOpened, L"AlreadyOpened"},
      {err::NotSupportVersion, L"NotSupportVersion"},
      {err::WaitTimeout, L"WaitTimeout"},
      {err::AlreadyLastestDefinition, L"AlreadyLastestDefinition"},
      {err::InvalidKeyTable, L"InvalidKeyTable"},
      {err::ErrorThreadEndFail, L"ErrorThreadEndFail"},
      {err::InvalidNextTime, L"InvalidNextTime"},
      {err::KeyScanDll, L"KeyScanDll"},
  };
  for (const auto& c : constants) EXPECT_EQ(CodeName(c.code), c.name) << std::hex << c.code;
}

// --- The table itself ----------------------------------------------------------------

struct Family {
  ErrorCode base;
  const wchar_t* name;
  std::size_t names;  // the "Names" column of the families table
};

// The families, in table order.
const Family kFamilies[] = {
    {0x29AA0000, L"VirusWatchScanBase", 99}, {0x304C0000, L"AfxThreadBase", 5},
    {0x31400000, L"WininetKeyBase", 18},     {0x321C0000, L"ShFileOperationKeyBase", 24},
    {0x32880000, L"VirusScanBase", 12},      {0x354D0000, L"PramselBase", 40},
    {0x385A0000, L"KestravondalBase", 47},   {0x617A0000, L"NmErrorBase", 225},
    {0x63610000, L"CM_ErrorBase", 63},       {0x6A880000, L"StringTypeBase", 9},
    {0x6D2F0000, L"TovrikBase", 21},         {0x6D5E0000, L"HttpStatusBase", 40},
    {0x6E570000, L"CM_ErrorStatusBase", 50}, {0x6E720000, L"WininetErrorBase", 92},
    {0x7EBF0000, L"EngineScanBase", 90},
};

constexpr ErrorCode High(ErrorCode c) { return c >> 16; }

TEST(ErrorNameTable, RowCountsPerFamily) {
  std::size_t total = 0;
  for (const auto& f : kFamilies) {
    std::size_t rows = 0, baseRows = 0;
    for (std::size_t i = 0; i < detail::kErrorNameTableSize; ++i) {
      const ErrorCode c = detail::kErrorNameTable[i].code;
      if (High(c) != High(f.base)) continue;
      if (c == f.base) {
        ++baseRows;
        EXPECT_EQ(std::wstring(detail::kErrorNameTable[i].name), f.name);
      } else {
        ++rows;
      }
    }
    EXPECT_EQ(rows, f.names) << std::hex << f.base;
    EXPECT_EQ(baseRows, 1u) << std::hex << f.base;
    total += rows + 1;
  }
  // Success, LineBase and InvalidEnumValue are the only other rows.
  EXPECT_EQ(detail::kErrorNameTableSize, total + 3);
  EXPECT_EQ(detail::kErrorNameTableSize, 853u);
}

TEST(ErrorNameTable, RowOrder) {
  const ErrorNameRow* t = detail::kErrorNameTable;
  const std::size_t n = detail::kErrorNameTableSize;
  ASSERT_GT(n, 17u);
  EXPECT_EQ(t[0].code, 0u);
  EXPECT_EQ(std::wstring(t[0].name), L"Success");
  EXPECT_EQ(t[n - 1].code, 0x7FFFFFFFu);
  EXPECT_EQ(std::wstring(t[n - 1].name), L"InvalidEnumValue");

  // Each family's rows as one block, in the families table's order, ascending by index;
  // the configuration-manager block opens with its four aliases.
  std::size_t i = 1;
  for (const auto& f : kFamilies) {
    std::size_t first = i;
    if (f.base == 0x63610000) {
      const ErrorCode aliases[] = {0x63610010, 0x6361000A, 0x63610005, 0x6361000D};
      for (ErrorCode a : aliases) {
        ASSERT_LT(i, n);
        EXPECT_EQ(t[i].code, a) << "row " << i;
        ++i;
      }
      first = i;
    }
    while (i < n && High(t[i].code) == High(f.base) && t[i].code != f.base) {
      if (i > first) {
        EXPECT_LT(t[i - 1].code, t[i].code) << "row " << i;
      }
      ++i;
    }
  }
  // Then the bases, LineBase first, in the same order.
  ASSERT_LT(i, n);
  EXPECT_EQ(t[i].code, LineBase) << "row " << i;
  EXPECT_EQ(std::wstring(t[i].name), L"LineBase");
  ++i;
  for (const auto& f : kFamilies) {
    ASSERT_LT(i, n);
    EXPECT_EQ(t[i].code, f.base) << "row " << i;
    ++i;
  }
  EXPECT_EQ(i, n - 1);
}

TEST(ErrorNameTable, NamesAreIdentifiers) {
  for (std::size_t i = 0; i < detail::kErrorNameTableSize; ++i) {
    const wchar_t* name = detail::kErrorNameTable[i].name;
    ASSERT_NE(name, nullptr) << "row " << i;
    const std::wstring s = name;
    EXPECT_FALSE(s.empty()) << "row " << i;
    for (wchar_t ch : s) {
      EXPECT_TRUE((ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z') || (ch >= L'0' && ch <= L'9') || ch == L'_')
          << "row " << i;
    }
  }
}

// The map holds the first row's name for every code of the table.
TEST(ErrorNameTable, MapNamesEveryCodeByItsFirstRow) {
  std::vector<bool> shadowed(detail::kErrorNameTableSize, false);
  for (std::size_t i = 0; i < detail::kErrorNameTableSize; ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (detail::kErrorNameTable[j].code == detail::kErrorNameTable[i].code) shadowed[i] = true;
    }
    if (!shadowed[i]) {
      EXPECT_EQ(CodeName(detail::kErrorNameTable[i].code), detail::kErrorNameTable[i].name) << "row " << i;
    }
  }
  std::size_t count = 0;
  for (bool s : shadowed) count += s ? 1 : 0;
  EXPECT_EQ(count, 4u);  // the four DEVNODE rows
}

TEST(MessageTable, RowsAndTerminator) {
  ASSERT_GE(detail::kMessageTableSize, 7u);
  const detail::MessageRow& last = detail::kMessageTable[detail::kMessageTableSize - 1];
  EXPECT_EQ(last.code, 0xFFFFFFFFu);
  for (const char* text : last.text) EXPECT_STREQ(text, "");
  for (std::size_t i = 0; i < detail::kMessageTableSize; ++i) {
    for (const char* text : detail::kMessageTable[i].text) EXPECT_NE(text, nullptr) << "row " << i;
  }
}

// --- Chains through ResultChain::ToText -----------------------------------------------

TEST(ChainText, FamilyCodes) {
  struct Case {
    ResultChain chain;
    const wchar_t* text;
  };
  const Case cases[] = {
      {ResultChain(0x385A0002) + LineMarker(57), L"0x385A0002:InvalidNextTime,Line(57),"},
      {ResultChain(0x29AA000D), L"0x29AA000D:Log destination folder is not set.,"},
      {ResultChain(0x32880002), L"0x32880002:BreakInterrupt,"},
      {ResultChain(0x32880003) + LineMarker(9), L"0x32880003:The definition file is up-to-date.,Line(9),"},
      {ResultChain(0x32880004),
       L"0x32880004:Failed to update Virus Definition File. ,"
       L"This program cannot recover from the error and will shutdown.,"},
      {ResultChain(0x2ABC0001), L"0x2ABC0001:InvalidEnumValue,"},
      {ResultChain(0x20010000), L"0x20010000:InvalidEnumValue,"},
      {ResultChain(0x63610005) + LineMarker(3), L"0x63610005:CM_CR_INVALID_DEVINST,Line(3),"},
      {(ResultChain(0x6D5E0194) + LineMarker(201)) + LineMarker(57),
       L"0x6D5E0194:HTTP_STATUS_404_NOT_FOUND,Line(201),Line(57),"},
      {ResultChain(0x617A0000), L"0x617A0000:NmErrorBase,"},
      {ResultChain(0x7FFFFFFF), L"0x7FFFFFFF:InvalidEnumValue,"},
      {ResultChain(0x6A88FFFF), L"0x6A88FFFF:StrTypeUnknown,"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.chain.ToText(), c.text);
}

TEST(ChainText, MarkedAtTheLineOfUse) {
  const unsigned line = __LINE__ + 1;
  const ResultChain chain = KV_MARK(err::InvalidKey);
  EXPECT_EQ(chain.ToText(), L"0x617A0094:InvalidKey,Line(" + std::to_wstring(line) + L"),");
}

// --- MergeNames ---------------------------------------------------------------------

ResultChain Merge(std::vector<ErrorNameRow> rows) { return MergeNames(rows.data(), rows.size()); }

TEST(MergeNames, AgreeingNameChangesNothing) {
  EXPECT_FALSE(Merge({{0x617A0008, L"InvalidArgument"}}).Failed());
  EXPECT_EQ(CodeName(0x617A0008), L"InvalidArgument");
  // The whole built-in table merges cleanly into itself.
  EXPECT_FALSE(MergeNames(detail::kErrorNameTable, detail::kErrorNameTableSize).Failed());
  EXPECT_EQ(CodeName(0x63610005), L"CM_CR_INVALID_DEVINST");
}

TEST(MergeNames, ConflictingNameFails) {
  const ResultChain result = Merge({{0x617A0008, L"SomethingElse"}});
  EXPECT_EQ(result, ResultChain(err::InvalidKeyTable) + 0x617A0008);
  EXPECT_EQ(result.Codes(), (std::vector<ErrorCode>{0x617A0008, 0x32880005}));
  EXPECT_EQ(result.ToText(), L"0x32880005:InvalidKeyTable,0x617A0008:InvalidArgument,");
  EXPECT_EQ(CodeName(0x617A0008), L"InvalidArgument");
}

TEST(MergeNames, NewCodeIsAdded) {
  EXPECT_EQ(CodeName(0x7EBF1000), L"InvalidEnumValue");
  EXPECT_FALSE(Merge({{0x7EBF1000, L"LibraryOnlyName"}}).Failed());
  EXPECT_EQ(CodeName(0x7EBF1000), L"LibraryOnlyName");
  EXPECT_EQ(CodeText(0x7EBF1000, 0), L"LibraryOnlyName");
  EXPECT_EQ(ResultChain(0x7EBF1000).ToText(), L"0x7EBF1000:LibraryOnlyName,");
  // Merging the same table again agrees; naming it differently later conflicts.
  EXPECT_FALSE(Merge({{0x7EBF1000, L"LibraryOnlyName"}}).Failed());
  EXPECT_EQ(Merge({{0x7EBF1000, L"Renamed"}}), ResultChain(err::InvalidKeyTable) + 0x7EBF1000);
  EXPECT_EQ(CodeName(0x7EBF1000), L"LibraryOnlyName");
}

TEST(MergeNames, EarlierLibraryRowWins) {
  EXPECT_FALSE(Merge({{0x7EBF1101, L"Early"}, {0x7EBF1101, L"Late"}}).Failed());
  EXPECT_EQ(CodeName(0x7EBF1101), L"Early");
  // An earlier agreeing row hides a later different one, and the other way round.
  EXPECT_FALSE(Merge({{0x617A0062, L"FileNotFound"}, {0x617A0062, L"Different"}}).Failed());
  EXPECT_EQ(Merge({{0x617A0062, L"Different"}, {0x617A0062, L"FileNotFound"}}),
            ResultChain(err::InvalidKeyTable) + 0x617A0062);
  EXPECT_EQ(CodeName(0x617A0062), L"FileNotFound");
}

TEST(MergeNames, RowsBeforeTheConflictStay) {
  // Visited in ascending code order whatever the row order: 0x6D2F1201 first, then the
  // conflict at 0x7EBF0001 ("First"), and 0x7EBF1202 is never reached.
  const ResultChain result =
      Merge({{0x7EBF1202, L"AfterConflict"}, {0x7EBF0001, L"NotFirst"}, {0x6D2F1201, L"BeforeConflict"}});
  EXPECT_EQ(result, ResultChain(err::InvalidKeyTable) + 0x7EBF0001);
  EXPECT_EQ(result.ToText(), L"0x32880005:InvalidKeyTable,0x7EBF0001:First,");
  EXPECT_EQ(CodeName(0x6D2F1201), L"BeforeConflict");
  EXPECT_EQ(CodeName(0x7EBF1202), L"InvalidEnumValue");
  EXPECT_EQ(CodeName(0x7EBF0001), L"First");
}

TEST(MergeNames, NullTableIsRefused) {
  const ResultChain result = MergeNames(nullptr, 3);
  ASSERT_EQ(result.Count(), 2u);
  EXPECT_EQ(result.Last(), err::InvalidArgumentNullPointer);
  EXPECT_TRUE(IsLineMarker(result.Codes()[0]));
  EXPECT_EQ(result.ToText().rfind(L"0x617A0009:InvalidArgumentNullPointer,Line(", 0), 0u) << result.ToText();
  // Nothing to read: success.
  EXPECT_FALSE(MergeNames(nullptr, 0).Failed());
  const ErrorNameRow row{0x7EBF1300, L"NeverRead"};
  EXPECT_FALSE(MergeNames(&row, 0).Failed());
  EXPECT_EQ(CodeName(0x7EBF1300), L"InvalidEnumValue");
}

TEST(MergeNames, RowWithoutNameIsSkipped) {
  EXPECT_FALSE(Merge({{0x7EBF1401, nullptr}, {0x7EBF1402, L"AfterNullRow"}}).Failed());
  EXPECT_EQ(CodeName(0x7EBF1401), L"InvalidEnumValue");
  EXPECT_EQ(CodeName(0x7EBF1402), L"AfterNullRow");
  // A null name neither conflicts with a known code nor hides a later row.
  EXPECT_FALSE(Merge({{0x617A0008, nullptr}}).Failed());
  EXPECT_EQ(CodeName(0x617A0008), L"InvalidArgument");
  EXPECT_FALSE(Merge({{0x7EBF1403, nullptr}, {0x7EBF1403, L"NamedLater"}}).Failed());
  EXPECT_EQ(CodeName(0x7EBF1403), L"NamedLater");
}

TEST(MergeNames, EmptyName) {
  // An empty name differs from a known one; for an unknown code it names nothing.
  EXPECT_EQ(Merge({{0x617A0008, L""}}), ResultChain(err::InvalidKeyTable) + 0x617A0008);
  EXPECT_FALSE(Merge({{0x7EBF1501, L""}}).Failed());
  EXPECT_EQ(CodeName(0x7EBF1501), L"InvalidEnumValue");
  EXPECT_FALSE(Merge({{0x7EBF1501, L"NamedAfterEmpty"}}).Failed());
  EXPECT_EQ(CodeName(0x7EBF1501), L"NamedAfterEmpty");
}

}  // namespace
}  // namespace kv
