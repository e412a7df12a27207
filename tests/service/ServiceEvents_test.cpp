// The message table in the built program: every event the service reports has its text,
// in English and Japanese, with each insertion string in place.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/ServiceEvents.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

std::wstring Formatted(HMODULE program, ServiceEvent event, LANGID language, const std::vector<std::wstring>& inserts) {
  std::vector<DWORD_PTR> arguments;
  for (const std::wstring& insert : inserts) arguments.push_back(reinterpret_cast<DWORD_PTR>(insert.c_str()));
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY, program,
      static_cast<DWORD>(event), language, reinterpret_cast<wchar_t*>(&text), 0,
      reinterpret_cast<va_list*>(arguments.data()));
  const std::wstring result = length != 0 ? std::wstring(text, length) : std::wstring();
  ::LocalFree(text);
  return result;
}

TEST(ServiceEvents, EveryEventHasItsTextWithEachInsertionStringInEveryLanguage) {
  const HMODULE program = ::LoadLibraryExW((test::ProgramFolder() + L"\\Kestravondalsc.exe").c_str(), nullptr,
                                           LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(program, nullptr) << ::GetLastError();
  const struct {
    ServiceEvent event;
    unsigned short type;
    int inserts;
  } rows[] = {
      {ServiceEvent::DefinitionsInstalled, EVENTLOG_INFORMATION_TYPE, 4},
      {ServiceEvent::UpdateFailed, EVENTLOG_ERROR_TYPE, 3},
      {ServiceEvent::UpdateDeferred, EVENTLOG_WARNING_TYPE, 3},
      {ServiceEvent::DefinitionsExpired, EVENTLOG_WARNING_TYPE, 2},
      {ServiceEvent::ForeignObjectRefused, EVENTLOG_ERROR_TYPE, 3},
      {ServiceEvent::CleanupRefused, EVENTLOG_WARNING_TYPE, 2},
      {ServiceEvent::UnsafeFolder, EVENTLOG_ERROR_TYPE, 3},
      {ServiceEvent::SettingsReadable, EVENTLOG_WARNING_TYPE, 3},
      {ServiceEvent::EngineNotLoaded, EVENTLOG_ERROR_TYPE, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<unsigned>(row.event));
    EXPECT_EQ(ServiceEventType(row.event), row.type);
    std::vector<std::wstring> inserts;
    for (int i = 1; i <= row.inserts; ++i) inserts.push_back(L"<insert " + std::to_wstring(i) + L">");
    for (const LANGID language : {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)}) {
      const std::wstring text = Formatted(program, row.event, language, inserts);
      ASSERT_FALSE(text.empty()) << "language " << language << ", error " << ::GetLastError();
      for (const std::wstring& insert : inserts) {
        EXPECT_NE(text.find(insert), std::wstring::npos) << "language " << language;
      }
      // No insertion number the event does not carry.
      EXPECT_EQ(text.find(L'%'), std::wstring::npos) << "language " << language;
    }
  }
  ::FreeLibrary(program);
}

}  // namespace
}  // namespace kv
