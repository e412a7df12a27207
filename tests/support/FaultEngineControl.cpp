#include "support/FaultEngineControl.h"

#include "support/WinTestUtil.h"

namespace kv::test {

namespace {

template <typename Fn>
Fn Find(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}

}  // namespace

FaultEngineControl::FaultEngineControl(const std::wstring& dllName)
    : path_(ProgramFolder() + L"\\" + dllName), module_(::LoadLibraryW(path_.c_str())) {
  Reset();
}

void FaultEngineControl::Reset() const {
  if (auto fn = Find<void(WINAPI*)()>(module_.Get(), "FaultReset")) fn();
}

void FaultEngineControl::Configure(const std::wstring& lines) const {
  if (auto fn = Find<void(WINAPI*)(const wchar_t*)>(module_.Get(), "FaultConfigure")) fn(lines.c_str());
}

long FaultEngineControl::Calls(const std::wstring& operation) const {
  auto fn = Find<long(WINAPI*)(const wchar_t*)>(module_.Get(), "FaultCalls");
  return fn ? fn(operation.c_str()) : -1;
}

long FaultEngineControl::LiveObjects() const {
  auto fn = Find<long(WINAPI*)()>(module_.Get(), "FaultLiveObjects");
  return fn ? fn() : -1;
}

}  // namespace kv::test
