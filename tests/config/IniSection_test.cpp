#include "config/IniSection.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(IniSection, FindMatchesWithoutRegardToCase) {
  IniSection section(L"S");
  section.Set(L"UpdateTime", L"05:30");
  ASSERT_NE(section.Find(L"UPDATETIME"), nullptr);
  EXPECT_EQ(*section.Find(L"updatetime"), L"05:30");
  EXPECT_EQ(section.Find(L"UpdateTim"), nullptr);
  EXPECT_EQ(section.Find(L"UpdateTimeX"), nullptr);
}

TEST(IniSection, SetKeepsTheFirstLetterCase) {
  IniSection section(L"S");
  section.Set(L"Key", L"1");
  section.Set(L"KEY", L"2");
  ASSERT_EQ(section.GetEntries().size(), 1u);
  EXPECT_EQ(section.GetEntries().begin()->first, L"Key");
  EXPECT_EQ(section.GetEntries().begin()->second, L"2");
}

TEST(IniSection, ToText) {
  IniSection section(L"Name");
  EXPECT_EQ(section.ToText(), L"");
  EXPECT_EQ(section.ToText(L"Other"), L"");
  section.Set(L"b", L"2");
  section.Set(L"a", L"");
  section.Set(L"B", L"3");
  EXPECT_EQ(section.ToText(), L"[Name]\nb=3\n\n");
  EXPECT_EQ(section.ToText(L"Other"), L"[Other]\nb=3\n\n");
  section.Set(L"b", L"");
  EXPECT_EQ(section.ToText(), L"[Name]\n\n");
}

TEST(IniSection, CopyKeepsWorkingLookups) {
  IniSection original(L"S");
  original.Set(L"k", L"1");
  IniSection copy = original;
  copy.Set(L"K", L"2");
  copy.Set(L"j", L"3");
  EXPECT_EQ(*original.Find(L"K"), L"1");
  EXPECT_EQ(original.Find(L"j"), nullptr);
  EXPECT_EQ(*copy.Find(L"k"), L"2");
  EXPECT_EQ(*copy.Find(L"J"), L"3");
}

}  // namespace
}  // namespace kv
