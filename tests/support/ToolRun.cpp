#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include "foundation/TextEncoding.h"
#include "support/WinTestUtil.h"
#include "support/StartService.h"

namespace kv::test {

namespace {

HANDLE InheritableFile(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       /*hTemplateFile=*/nullptr);
}

std::wstring Utf8File(const std::wstring& path) {
  const std::string bytes = ReadFileBytes(path);
  std::wstring text;
  EXPECT_FALSE(NarrowToWide(bytes.data(), bytes.size(), CP_UTF8, 0, text).Failed());
  return text;
}

}  // namespace

ToolRun RunKvtool(const std::wstring& folder, const std::wstring& arguments, const std::wstring& program) {
  ToolRun run;
  // Fresh names for every run: a file still held by the previous child cannot be reused.
  static int runNumber = 0;
  ++runNumber;
  const std::wstring outPath = folder + L"\\out" + std::to_wstring(runNumber) + L".txt";
  const std::wstring errPath = folder + L"\\err" + std::to_wstring(runNumber) + L".txt";
  HANDLE out = InheritableFile(outPath);
  HANDLE err = InheritableFile(errPath);
  EXPECT_NE(out, INVALID_HANDLE_VALUE) << ::GetLastError();
  EXPECT_NE(err, INVALID_HANDLE_VALUE) << ::GetLastError();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  std::wstring commandLine =
      L"\"" + (program.empty() ? ProgramFolder() + L"\\kvtool.exe" : program) + L"\" " + arguments;
  const BOOL started = ::kv::test::CreateProcessRetrying(commandLine.data(), TRUE, CREATE_NO_WINDOW, &startup, &process);
  ::CloseHandle(out);
  ::CloseHandle(err);
  EXPECT_TRUE(started) << ::GetLastError();
  if (!started) return run;
  EXPECT_EQ(::WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  ::GetExitCodeProcess(process.hProcess, &run.exitCode);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  run.out = Utf8File(outPath);
  run.err = Utf8File(errPath);
  return run;
}

}  // namespace kv::test
