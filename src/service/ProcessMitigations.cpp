#include "service/ProcessMitigations.h"

#include <windows.h>

namespace kv {

namespace {

std::vector<std::wstring> g_notInEffect;

using SetPolicy = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
using GetPolicy = BOOL(WINAPI*)(HANDLE, PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);

// Asks for `wanted` and reads the policy back: a system may accept a policy it does not
// apply, so only a read-back that shows every wanted bit counts.
template <typename Policy>
bool TurnOn(SetPolicy set, GetPolicy get, PROCESS_MITIGATION_POLICY which, Policy wanted) {
  if (set == nullptr || get == nullptr || !set(which, &wanted, sizeof wanted)) return false;
  Policy now{};
  return get(::GetCurrentProcess(), which, &now, sizeof now) && (now.Flags & wanted.Flags) == wanted.Flags;
}

}  // namespace

void ApplyProcessMitigations() {
  g_notInEffect.clear();
  // Windows 8 and later; looked up so that older systems still run the service.
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const auto set = reinterpret_cast<SetPolicy>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetProcessMitigationPolicy")));
  const auto get = reinterpret_cast<GetPolicy>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "GetProcessMitigationPolicy")));

  PROCESS_MITIGATION_IMAGE_LOAD_POLICY images{};
  images.NoRemoteImages = 1;
  images.NoLowMandatoryLabelImages = 1;
  if (!TurnOn(set, get, ProcessImageLoadPolicy, images)) g_notInEffect.push_back(L"ImageLoad");

  PROCESS_MITIGATION_EXTENSION_POINT_DISABLE_POLICY extensions{};
  extensions.DisableExtensionPoints = 1;
  if (!TurnOn(set, get, ProcessExtensionPointDisablePolicy, extensions)) g_notInEffect.push_back(L"ExtensionPoints");

  PROCESS_MITIGATION_STRICT_HANDLE_CHECK_POLICY handles{};
  handles.RaiseExceptionOnInvalidHandleReference = 1;
  handles.HandleExceptionsPermanentlyEnabled = 1;
  if (!TurnOn(set, get, ProcessStrictHandleCheckPolicy, handles)) g_notInEffect.push_back(L"StrictHandles");

  // Nothing reads this one back; the call's answer is all there is.
  if (!::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0)) {
    g_notInEffect.push_back(L"HeapTermination");
  }
}

const std::vector<std::wstring>& MitigationsNotInEffect() { return g_notInEffect; }

}  // namespace kv
