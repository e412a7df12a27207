#include "protect/EmbeddedConfig.h"

#include "protect/ResourceFile.h"

namespace kv {

std::wstring EmbeddedConfig::Text() {
  CriticalSectionGuard guard(lock_);
  if (kept_ == kInvalid) return {};
  if (!kept_.empty()) return kept_;

  ResourceFile file;
  (void)file.Open(modulePath_);  // a failure leaves no module path, and the read below fails
  kept_ = file.ProtectedText(ResourceFile::kConfigResource);
  if (kept_.empty()) kept_ = kInvalid;
  return kept_;
}

std::wstring EmbeddedConfigText() {
  static EmbeddedConfig own;
  return own.Text();
}

}  // namespace kv
