// ResourceFile: the resources of one module file, and the protected resources that
// carry the embedded configuration.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/ResultChain.h"

namespace kv {

// "#%d": the text form of a numbered resource.
std::wstring ResourceName(int number);

class ResourceFile {
 public:
  static constexpr int kKeyMaterialResource = 1;
  static constexpr int kConfigResource = 4096;

  ResourceFile() = default;

  // Checks that the module file (empty: the program's own executable) can be mapped and
  // has resources, and keeps its full path. The module is not kept open.
  ResultChain Open(const std::wstring& modulePath = std::wstring());

  // The bytes of one resource of this file's type. The name is taken in upper case and
  // may hold only letters, digits, white space, "." and "#", at most 63 characters
  // (else InvalidKey). HandleNotEnabled without a module path, FileNotFound when the
  // file is gone, the system error when the resource cannot be found or loaded.
  ResultChain Read(const std::wstring& name, unsigned short language, std::vector<std::uint8_t>& bytes) const;

  // The payload of protected resource `number` (language neutral): resource 1 opened
  // with this build's key gives the key material, SHA-256 of which opens the resource.
  ResultChain ProtectedRead(int number, std::vector<std::uint8_t>& payload) const;

  // ProtectedRead decoded to text; any failure gives empty text.
  std::wstring ProtectedText(int number) const;

  const std::wstring& ResourceType() const { return type_; }
  void SetResourceType(const std::wstring& type) { type_ = type; }
  const std::wstring& ModuleFile() const { return modulePath_; }

 private:
  ResultChain CheckModuleFile() const;

  std::wstring type_ = L"BINARY";
  std::wstring modulePath_;
};

}  // namespace kv
