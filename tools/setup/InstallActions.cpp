// The custom actions of the Windows Installer package (packaging/Kestravondalsc.wxs).
// The package carries this library in its Binary table; it is never installed.
//
//   PrepareSettings    immediate, before anything on the machine changes: checks the
//                      properties UPDATETIME (spread over UPDATEWINDOW minutes, when
//                      given), TIMEINTERVALHOUR and OTHERUNCPATH and hands
//                      WriteSettings the path and text of "Kestravondal.ini" (nothing when
//                      none is given). A value the service could not use stops the
//                      installation here.
//   WriteSettings      deferred, as LocalSystem, after the files are in place: creates the
//                      settings file only when there is none, so an edited file survives
//                      every reinstallation and upgrade. It may hold the proxy password,
//                      so it is made readable by SYSTEM and Administrators only.
//   SecureProgramFolder deferred, after the files are in place: the program folder gets
//                      a protected list (setup/InstallSecurity.h) wherever APPDIR points,
//                      since the service loads nothing from a folder others may write in.
//   ConfigureService   deferred, after the service is registered: the service starts
//                      delayed after the boot's automatic ones (the network is up by
//                      then), the service control manager restarts it after a crash, its
//                      token carries its own SID and only the privileges it uses, as the
//                      manual installation's `sc` lines do.
//   SecureService      deferred, after the service is registered: its access list lets
//                      users query it but not control it (setup/InstallSecurity.h), as
//                      the manual installation's `sc sdset` line does. A service it cannot
//                      secure fails the installation.
#include <windows.h>
// After windows.h, which they need.
#include <msi.h>
#include <msiquery.h>

#include <iterator>
#include <string>
#include <string_view>

#include "config/IniDocument.h"
#include "foundation/FileSystem.h"
#include "foundation/SecurityDescriptor.h"
#include "foundation/TextEncoding.h"
#include "foundation/UniqueOwner.h"
#include "foundation/WholeFile.h"
#include "log/MonthlyLog.h"
#include "kernel/HandleHolder.h"
#include "kernel/ScmHandle.h"
#include "service/ServiceHost.h"
#include "setup/InstallSecurity.h"
#include "setup/UpdateWindow.h"

namespace {

constexpr wchar_t kSettingsSection[] = L"Kestravondal";

using MsiRecord = kv::UniqueOwner<MSIHANDLE, &::MsiCloseHandle>;

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
  DWORD size = 0;
  wchar_t probe[1] = {};
  UINT result = ::MsiGetPropertyW(install, name, probe, &size);
  if (result != ERROR_MORE_DATA) return {};
  std::wstring value(size + 1, L'\0');
  size = static_cast<DWORD>(value.size());
  result = ::MsiGetPropertyW(install, name, value.data(), &size);
  if (result != ERROR_SUCCESS) return {};
  value.resize(size);
  return value;
}

// A line in the installation log; an error is also shown when the installation has a
// user interface. The text goes in as a field, so brackets in it are not formatted.
void Report(MSIHANDLE install, INSTALLMESSAGE kind, const std::wstring& text) {
  const MsiRecord record(::MsiCreateRecord(1));
  ::MsiRecordSetStringW(record.Get(), 0, L"Kestravondalsc: [1]");
  ::MsiRecordSetStringW(record.Get(), 1, text.c_str());
  ::MsiProcessMessage(install, kind, record.Get());
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// "H:MM" or "HH:MM", 00:00 to 23:59: the form every machine reads the same way.
bool IsTimeOfDay(std::wstring_view text) {
  const std::size_t colon = text.find(L':');
  if (colon != 1 && colon != 2) return false;
  if (text.size() != colon + 3) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i != colon && !IsDigit(text[i])) return false;
  }
  const int hour = colon == 1 ? text[0] - L'0' : (text[0] - L'0') * 10 + (text[1] - L'0');
  const int minute = (text[colon + 1] - L'0') * 10 + (text[colon + 2] - L'0');
  return hour < 24 && minute < 60;
}

// A decimal number from 0 to `most` without a leading zero (the service would read
// "010" as octal 8).
bool IsDecimalUpTo(std::wstring_view text, unsigned most) {
  if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == L'0')) return false;
  unsigned value = 0;
  for (wchar_t c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + (c - L'0');
  }
  return value <= most;
}

// One line of printable text: a line break would start another key in the file.
bool IsOneLine(std::wstring_view text) {
  for (wchar_t c : text) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return !text.empty();
}

}  // namespace

// The actions run inside msiexec's action server: whatever it loads later comes from
// System32 only, never from the folder the package was started from.
BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return TRUE;
}

extern "C" __declspec(dllexport) UINT __stdcall PrepareSettings(MSIHANDLE install) {
  // What SecureProgramFolder reads, whatever the settings.
  ::MsiSetPropertyW(install, L"SecureProgramFolder", Property(install, L"APPDIR").c_str());
  const std::wstring updateTime = Property(install, L"UPDATETIME");
  const std::wstring interval = Property(install, L"TIMEINTERVALHOUR");
  const std::wstring source = Property(install, L"OTHERUNCPATH");
  const std::wstring window = Property(install, L"UPDATEWINDOW");
  if (updateTime.empty() && interval.empty() && source.empty() && window.empty()) {
    Report(install, INSTALLMESSAGE_INFO,
           L"no UPDATETIME, TIMEINTERVALHOUR or OTHERUNCPATH given: no settings file written");
    return ERROR_SUCCESS;
  }
  std::wstring problem;
  if (!updateTime.empty() && !IsTimeOfDay(updateTime)) {
    problem = L"UPDATETIME=" + updateTime + L" is not a time of day hours:minutes from 00:00 to 23:59";
  } else if (!interval.empty() && !IsDecimalUpTo(interval, 9999)) {
    problem = L"TIMEINTERVALHOUR=" + interval + L" is not a number of hours from 0 to 9999 without leading zeros";
  } else if (!source.empty() && !IsOneLine(source)) {
    problem = L"OTHERUNCPATH must be a folder or share path on one line";
  } else if (!window.empty() && !IsDecimalUpTo(window, kv::setup::kMaxUpdateWindowMinutes)) {
    problem = L"UPDATEWINDOW=" + window + L" is not a number of minutes from 0 to 1440 without leading zeros";
  } else if (!window.empty() && window != L"0" && updateTime.empty()) {
    problem = L"UPDATEWINDOW spreads UPDATETIME, which is not given";
  }
  if (!problem.empty()) {
    Report(install, INSTALLMESSAGE_ERROR, problem + L"; nothing was installed");
    return ERROR_INSTALL_FAILURE;
  }

  std::wstring spreadTime = updateTime;
  if (!window.empty() && window != L"0") {
    const unsigned offset = kv::setup::RandomOffsetMinutes(static_cast<unsigned>(std::stoul(window)));
    spreadTime = kv::setup::SpreadUpdateTime(updateTime, offset);
    Report(install, INSTALLMESSAGE_INFO,
           L"UpdateTime " + spreadTime + L": UPDATETIME " + updateTime + L" plus " + std::to_wstring(offset) +
               L" of the UPDATEWINDOW's " + window + L" minutes");
  }
  kv::IniDocument document;
  // IniDocument's setters always succeed.
  if (!spreadTime.empty()) (void)document.SetString(L"UpdateTime", spreadTime, kSettingsSection);
  if (!interval.empty()) (void)document.SetString(L"TimeIntervalHour", interval, kSettingsSection);
  if (!source.empty()) (void)document.SetString(L"OtherUncPath", source, kSettingsSection);
  const std::wstring text = kv::NormalizeLineBreaks(
      L"; Written by the Kestravondalsc installer from its properties. The installer never\n"
      L"; replaces this file: edit it here and restart the service (docs/configuration.md).\n" +
      document.ToText());
  const std::wstring file = Property(install, L"APPDIR") + L"Kestravondal.ini";
  // What the deferred action reads: the path on the first line, the text after it.
  ::MsiSetPropertyW(install, L"WriteSettings", (file + L"\n" + text).c_str());
  return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall WriteSettings(MSIHANDLE install) {
  const std::wstring data = Property(install, L"CustomActionData");
  const std::size_t lineEnd = data.find(L'\n');
  if (lineEnd == std::wstring::npos) return ERROR_SUCCESS;
  const std::wstring path = data.substr(0, lineEnd);
  std::string bytes;
  if (kv::WideToNarrow(data.substr(lineEnd + 1), CP_UTF8, 0, bytes).Failed()) {
    Report(install, INSTALLMESSAGE_ERROR, L"the settings for " + path + L" cannot be written as UTF-8");
    return ERROR_INSTALL_FAILURE;
  }
  bytes.insert(0, "\xEF\xBB\xBF");

  kv::SecurityDescriptor access;
  if (kv::ResultChain built = access.FromSddl(kv::setup::kSettingsFileSddl); built.Failed()) {
    Report(install, INSTALLMESSAGE_ERROR, L"the access list for " + path + L" cannot be built: " + built.ToText());
    return ERROR_INSTALL_FAILURE;
  }
  // CREATE_NEW: a file that exists, whoever wrote it, is the administrator's and stays.
  kv::HandleHolder file(INVALID_HANDLE_VALUE);
  if (file.Attach(::CreateFileW(kv::LongPathForm(path).c_str(), GENERIC_WRITE, 0, access.Attributes(), CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr))
          .Failed()) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS) {
      Report(install, INSTALLMESSAGE_INFO, path + L" exists and is kept as it is");
      return ERROR_SUCCESS;
    }
    Report(install, INSTALLMESSAGE_ERROR, L"cannot create " + path + L": system error " + std::to_wstring(error));
    return ERROR_INSTALL_FAILURE;
  }
  const kv::ResultChain written = kv::WriteAllAndFlush(file.Get(), bytes);
  (void)file.Close();  // flushed already: a close that fails loses nothing
  if (written.Failed()) {
    // A half-written file would be read as the administrator's; none is better.
    ::DeleteFileW(kv::LongPathForm(path).c_str());
    Report(install, INSTALLMESSAGE_ERROR, L"cannot write " + path + L": " + written.ToText());
    return ERROR_INSTALL_FAILURE;
  }
  Report(install, INSTALLMESSAGE_INFO, L"wrote " + path);
  return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall SecureProgramFolder(MSIHANDLE install) {
  const std::wstring folder = Property(install, L"CustomActionData");
  if (kv::ResultChain secured = kv::setup::SecureFolder(folder, kv::setup::kProgramFolderSddl); secured.Failed()) {
    Report(install, INSTALLMESSAGE_ERROR,
           L"the access list of " + folder + L" could not be set: " + secured.ToText());
    return ERROR_INSTALL_FAILURE;
  }
  Report(install, INSTALLMESSAGE_INFO, L"program folder access list set: " + std::wstring(kv::setup::kProgramFolderSddl));
  return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall ConfigureService(MSIHANDLE install) {
  kv::ScmHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  // Restarting is a start: the service handle needs that right too.
  kv::ScmHandle service(manager.Get() == nullptr ? nullptr
                                                 : ::OpenServiceW(manager.Get(), kv::kServiceNameWide,
                                                                  SERVICE_CHANGE_CONFIG | SERVICE_START));
  // Started with the boot's automatic services, the update at start often finds no
  // network yet; a couple of minutes later it does. Either setting failing leaves the
  // service working, so each is only reported: `sc config` and `sc failure` can still
  // set them.
  SERVICE_DELAYED_AUTO_START_INFO delayed{/*fDelayedAutostart=*/TRUE};
  if (service.Get() == nullptr ||
      !::ChangeServiceConfig2W(service.Get(), SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed)) {
    Report(install, INSTALLMESSAGE_INFO,
           L"the delayed automatic start could not be set: system error " + std::to_wstring(::GetLastError()));
  }
  SC_ACTION actions[] = {{SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_NONE, 0}};
  SERVICE_FAILURE_ACTIONSW failure{};
  failure.dwResetPeriod = 86400;
  failure.cActions = static_cast<DWORD>(std::size(actions));
  failure.lpsaActions = actions;
  if (service.Get() == nullptr || !::ChangeServiceConfig2W(service.Get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) {
    Report(install, INSTALLMESSAGE_INFO,
           L"the restart after a crash could not be set: system error " + std::to_wstring(::GetLastError()));
  }
  // Its own SID in its token, so that lists can name it alone; and of LocalSystem's
  // privileges only those it uses, so that code run in it cannot take the rest.
  SERVICE_SID_INFO sid{SERVICE_SID_TYPE_UNRESTRICTED};
  if (service.Get() == nullptr || !::ChangeServiceConfig2W(service.Get(), SERVICE_CONFIG_SERVICE_SID_INFO, &sid)) {
    Report(install, INSTALLMESSAGE_INFO,
           L"the service SID type could not be set: system error " + std::to_wstring(::GetLastError()));
  }
  std::wstring privileges(kv::setup::kRequiredPrivileges, std::size(kv::setup::kRequiredPrivileges));
  SERVICE_REQUIRED_PRIVILEGES_INFOW required{privileges.data()};
  if (service.Get() == nullptr ||
      !::ChangeServiceConfig2W(service.Get(), SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required)) {
    Report(install, INSTALLMESSAGE_INFO,
           L"the required privileges could not be set: system error " + std::to_wstring(::GetLastError()));
  }
  return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall SecureService(MSIHANDLE install) {
  // Left with the default list, any interactive user could send control 200 and so
  // start a clean-up and an update as SYSTEM: better no installation than that one.
  if (kv::ResultChain secured = kv::setup::SecureService(kv::kServiceNameWide, kv::setup::kServiceSddl);
      secured.Failed()) {
    Report(install, INSTALLMESSAGE_ERROR, L"the service's access list could not be set: " + secured.ToText());
    return ERROR_INSTALL_FAILURE;
  }
  Report(install, INSTALLMESSAGE_INFO, std::wstring(L"service access list set: ") + kv::setup::kServiceSddl);
  return ERROR_SUCCESS;
}
