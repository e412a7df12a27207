// The real program in the service control manager.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/ServiceUnderTest.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

std::wstring ServiceProgram() { return test::ProgramFolder() + L"\\Kestravondalsc.exe"; }

TEST(ServiceEndToEnd, StartControlsAndStop) {
  test::ServiceUnderTest service(L"Kestravondalsc", ServiceProgram());
  ASSERT_TRUE(service.Installed()) << "CreateService failed: " << service.InstallError();

  ASSERT_TRUE(service.Start()) << ::GetLastError();
  ASSERT_TRUE(service.WaitForState(SERVICE_RUNNING));
  SERVICE_STATUS status = service.Query();
  EXPECT_EQ(status.dwControlsAccepted, 0x81u);
  EXPECT_EQ(status.dwCheckPoint, 0u);
  EXPECT_EQ(status.dwWin32ExitCode, 0u);

  // Interrogation, the update request and an unknown user code are each answered,
  // and the service stays running.
  for (DWORD code : {DWORD{SERVICE_CONTROL_INTERROGATE}, DWORD{200}, DWORD{201}}) {
    SCOPED_TRACE(code);
    DWORD error = 0;
    EXPECT_TRUE(service.Control(code, &status, &error)) << "error " << error;
    EXPECT_EQ(service.Query().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  }

  EXPECT_TRUE(service.Control(SERVICE_CONTROL_STOP, &status));
  ASSERT_TRUE(service.WaitForState(SERVICE_STOPPED));
  EXPECT_EQ(service.Query().dwWin32ExitCode, 0u);
}

TEST(ServiceEndToEnd, StartedOutsideTheServiceManagerEndsAtOnceWithZero) {
  EXPECT_EQ(test::RunProgram(L"\"" + ServiceProgram() + L"\""), 0u);
}

}  // namespace
}  // namespace kv
