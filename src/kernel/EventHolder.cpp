#include "kernel/EventHolder.h"

namespace kv {

ResultChain EventHolder::Create(bool autoReset, bool initialState, const std::wstring& name,
                                SECURITY_ATTRIBUTES* security) {
  (void)handle_.Close();  // the old handle is given up either way
  HANDLE h = ::CreateEventW(security, /*bManualReset=*/autoReset ? FALSE : TRUE, initialState ? TRUE : FALSE,
                            name.empty() ? nullptr : name.c_str());
  ResultChain attached = handle_.Attach(h);
  if (attached.Failed()) return attached;
  return {};
}

}  // namespace kv
