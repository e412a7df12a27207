#include "kernel/NamedObject.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "foundation/SecurityDescriptor.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

// Who made the name first (none, or an event or mutex with this descriptor), and
// whether the service then uses it.
TEST(NamedObjectTest, AnExistingObjectIsUsedOnlyFromATrustedOwner) {
  const std::wstring user = ProcessUserSid();
  ASSERT_FALSE(user.empty());
  struct Case {
    std::wstring first;
    bool mutex, refused;
    std::wstring owner;
  };
  for (const Case& c : {Case{L"", false, false, L""}, Case{L"O:SYD:", false, false, L""},
                        Case{L"O:BAD:", false, false, L""}, Case{L"O:" + user + L"D:", false, false, L""},
                        Case{L"O:BUD:", false, true, L"S-1-5-32-545"}, Case{L"O:BUD:", true, true, L""}}) {
    SCOPED_TRACE(c.first + (c.mutex ? L" mutex" : L""));
    const std::wstring name = L"KvTest_NamedObject_" + std::to_wstring(::GetTickCount64());
    SecurityDescriptor list;
    HandleHolder first;
    if (!c.first.empty()) {
      ASSERT_FALSE(list.FromSddl(c.first + L"(A;;GA;;;WD)").Failed());
      HANDLE h = c.mutex ? ::CreateMutexW(list.Attributes(), FALSE, name.c_str())
                         : ::CreateEventW(list.Attributes(), TRUE, /*bInitialState=*/TRUE, name.c_str());
      if (h == nullptr && ::GetLastError() == ERROR_INVALID_OWNER) continue;  // Windows: SYSTEM's or admins' only
      ASSERT_FALSE(first.Attach(h).Failed());
    }
    HandleHolder holder;
    ForeignObject refused;
    const wchar_t* dacl = L"D:P(A;;0x1F0003;;;SY)";
    const ResultChain result = CreateNamedObject(NamedObjectType::Event, name, dacl, holder, &refused);
    EXPECT_EQ(c.refused, IsForeignObject(result) && !holder.IsOpen()) << result.ToText();
    EXPECT_EQ(c.owner, refused.owner);
    if (c.first.empty()) {
      EXPECT_EQ(test::CanonicalSddl(L"O:" + user + dacl), test::ObjectSddl(holder.Get()));
    }
    if (!c.refused) continue;
    EXPECT_EQ(c.mutex, result.Contains(ERROR_INVALID_HANDLE)) << "a mutex holds the event's name";
    // The service's own event instead, not signalled as the first one is.
    ASSERT_FALSE(CreateServiceEvent(name, holder, refused).Failed());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(holder.Get(), 0));
    EXPECT_EQ(name, refused.name);
  }
}

}  // namespace
}  // namespace kv
