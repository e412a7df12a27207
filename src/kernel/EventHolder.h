// EventHolder: the owner of one event object.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/ResultChain.h"
#include "kernel/HandleHolder.h"
#include "kernel/NamedObject.h"

namespace kv {

class EventHolder {
 public:
  EventHolder() = default;
  virtual ~EventHolder() = default;
  EventHolder(EventHolder&&) noexcept = default;
  EventHolder& operator=(EventHolder&&) noexcept = default;

  // Closes any event held, then creates (or opens, when the name exists) an event.
  // An empty name makes an unnamed event.
  ResultChain Create(bool autoReset, bool initialState, const std::wstring& name = {},
                     SECURITY_ATTRIBUTES* security = nullptr);

  // Closes any event held, then creates the service's named event `name` with the
  // service's access list, or an unnamed one when a foreign object holds the name
  // (CreateServiceEvent fills `refused`).
  ResultChain CreateShared(const std::wstring& name, ForeignObject& refused) {
    return CreateServiceEvent(name, handle_, refused);
  }

  ResultChain Close() { return handle_.Close(); }
  bool IsOpen() const { return handle_.IsOpen(); }
  HANDLE Get() const { return handle_.Get(); }

 private:
  HandleHolder handle_{nullptr};
};

}  // namespace kv
