// The service's name, as the service control manager and the system's service SID
// ("NT SERVICE\Kestravondalsc") know it.
#pragma once

namespace kv {

inline constexpr char kServiceName[] = "Kestravondalsc";
// The same name for the wide functions (service manager, installer, kvtool).
inline constexpr wchar_t kServiceNameWide[] = L"Kestravondalsc";

}  // namespace kv
