#include "kernel/NamedObject.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "foundation/SecurityDescriptor.h"

namespace kv {
namespace {

// Who made the name first (an event, or a mutex, with this owner), and whether the
// service then uses it.
TEST(NamedObjectTest, AnExistingObjectIsUsedOnlyFromATrustedOwner) {
  struct Case {
    std::wstring owner;
    bool mutex, refused;
  };
  for (const Case& c : {Case{L"SY", false, false}, Case{L"BA", false, false}, Case{ProcessUserSid(), false, false},
                        Case{L"BU", false, true}, Case{L"BU", true, true}}) {
    SCOPED_TRACE(c.owner + (c.mutex ? L" mutex" : L""));
    const std::wstring name = L"KvTest_NamedObject_" + std::to_wstring(::GetTickCount64());
    SecurityDescriptor list;
    ASSERT_FALSE(list.FromSddl(L"O:" + c.owner + L"D:(A;;GA;;;WD)").Failed());
    HandleHolder first;
    HANDLE h = c.mutex ? ::CreateMutexW(list.Attributes(), FALSE, name.c_str())
                       : ::CreateEventW(list.Attributes(), TRUE, FALSE, name.c_str());
    if (h == nullptr && ::GetLastError() == ERROR_INVALID_OWNER) continue;  // Windows: SYSTEM's or admins' only
    ASSERT_FALSE(first.Attach(h).Failed());
    HandleHolder holder;
    ForeignObject refused;
    const ResultChain result = CreateNamedObject(NamedObjectType::Event, name, L"D:(A;;GA;;;SY)", holder, &refused);
    EXPECT_EQ(c.refused, IsForeignObject(result) && !holder.IsOpen()) << result.ToText();
    EXPECT_EQ(c.refused && !c.mutex ? L"S-1-5-32-545" : L"", refused.owner);
    EXPECT_EQ(c.mutex, result.Contains(ERROR_INVALID_HANDLE)) << "a mutex holds the event's name";
  }
}

}  // namespace
}  // namespace kv
