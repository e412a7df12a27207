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
    int inserts;
  } rows[] = {
      {ServiceEvent::DefinitionsInstalled, 4}, {ServiceEvent::UpdateFailed, 3},     {ServiceEvent::UpdateDeferred, 3},
      {ServiceEvent::DefinitionsExpired, 2},   {ServiceEvent::ForeignObjectRefused, 3}, {ServiceEvent::CleanupRefused, 2},
      {ServiceEvent::UnsafeFolder, 3},         {ServiceEvent::SettingsReadable, 3},  {ServiceEvent::EngineNotLoaded, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<unsigned>(row.event));
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
