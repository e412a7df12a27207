// The per-installation suffix of the service's named objects.
#include "kernel/InstanceSuffix.h"

#include <gtest/gtest.h>

#include <string>

namespace kv {
namespace {

TEST(InstanceSuffixTest, LowerCasedPathWithSeparatorsReplaced) {
  struct Case {
    const wchar_t* path;
    const wchar_t* suffix;
  };
  for (const Case& c : {Case{L"C:\\Program Files\\Kv\\Svc.EXE", L"c:_program files_kv_svc.exe"},
                        Case{L"D:/Apps/KV/svc.exe", L"d:_apps_kv_svc.exe"},
                        Case{L"\\\\Server\\Share\\Svc.exe", L"__server_share_svc.exe"},
                        Case{L"C:/A\\x.EXE", L"c:_a_x.exe"}, Case{L"", L""}}) {
    EXPECT_EQ(std::wstring(c.suffix), InstanceSuffixFor(c.path)) << c.path;
  }
  EXPECT_NE(InstanceSuffixFor(L"C:\\A\\svc.exe"), InstanceSuffixFor(L"C:\\B\\svc.exe"));
}

TEST(InstanceSuffixTest, OfThisProgram) {
  const std::wstring suffix = InstanceSuffix();
  ASSERT_FALSE(suffix.empty());
  EXPECT_EQ(std::wstring::npos, suffix.find_first_of(L"\\/"));
  const std::wstring tail = L"_kv_kernel_tests.exe";
  ASSERT_GT(suffix.size(), tail.size());
  EXPECT_EQ(tail, suffix.substr(suffix.size() - tail.size()));
}

}  // namespace
}  // namespace kv
