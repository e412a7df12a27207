#include "defset/SetSignature.h"

#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "defset/EngineCodes.h"
#include "foundation/CngHandles.h"
#include "foundation/ErrorCodes.h"
#include "protect/Sha256.h"

extern "C" ULONG NTAPI RtlNtStatusToDosError(LONG status);

namespace kv::refengine {

namespace {

constexpr ULONG kCoordinateBytes = 32;
constexpr ULONG kSignatureBytes = 2 * kCoordinateBytes;

// A CNG failure as the Windows error it stands for.
ResultChain CngFailure(NTSTATUS status) { return ResultChain(static_cast<ErrorCode>(RtlNtStatusToDosError(status))); }

ResultChain OpenAlgorithm(CngAlgorithm& algorithm) {
  const NTSTATUS status = ::BCryptOpenAlgorithmProvider(algorithm.Put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(status)) return KV_MARK(CngFailure(status));
  return {};
}

// The blob's header names a P-256 key of the wanted kind and the length fits it.
bool HasShape(const std::string& blob, ULONG magic, std::size_t parts) {
  BCRYPT_ECCKEY_BLOB header{};
  if (blob.size() != sizeof(header) + parts * kCoordinateBytes) return false;
  std::memcpy(&header, blob.data(), sizeof(header));
  return header.dwMagic == magic && header.cbKey == kCoordinateBytes;
}

ResultChain ImportKey(const CngAlgorithm& algorithm, const wchar_t* type, const std::string& blob, CngKey& key) {
  auto* bytes = reinterpret_cast<PUCHAR>(const_cast<char*>(blob.data()));
  const NTSTATUS status =
      ::BCryptImportKeyPair(algorithm.Get(), nullptr, type, key.Put(), bytes, static_cast<ULONG>(blob.size()), 0);
  if (!BCRYPT_SUCCESS(status)) return KV_MARK(CngFailure(status));
  return {};
}

ResultChain ExportKey(const CngKey& key, const wchar_t* type, std::string& blob) {
  ULONG needed = 0;
  NTSTATUS status = ::BCryptExportKey(key.Get(), nullptr, type, nullptr, 0, &needed, 0);
  if (!BCRYPT_SUCCESS(status)) return KV_MARK(CngFailure(status));
  blob.assign(needed, '\0');
  status = ::BCryptExportKey(key.Get(), nullptr, type, reinterpret_cast<PUCHAR>(blob.data()), needed, &needed, 0);
  if (!BCRYPT_SUCCESS(status)) return KV_MARK(CngFailure(status));
  blob.resize(needed);
  return {};
}

Digest256 DigestOf(const std::string& bytes) { return Sha256::Of(bytes.data(), bytes.size()); }

}  // namespace

std::string ToBase64(const std::string& bytes) {
  if (bytes.empty()) return {};
  const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  DWORD length = 0;
  if (!::CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, nullptr, &length)) return {};
  std::string text(length, '\0');
  if (!::CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, text.data(), &length)) return {};
  text.resize(length);
  while (!text.empty() && (text.back() == '\0' || text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}

ResultChain FromBase64(const std::string& text, std::string& bytes) {
  bytes.clear();
  std::string compact;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') compact += c;
  }
  if (compact.empty()) return KV_MARK(err::InvalidFormat);
  DWORD length = 0;
  if (!::CryptStringToBinaryA(compact.data(), static_cast<DWORD>(compact.size()), CRYPT_STRING_BASE64, nullptr,
                              &length, nullptr, nullptr)) {
    return KV_MARK(ResultChain(err::InvalidFormat) + LastErrorChain());
  }
  bytes.assign(length, '\0');
  if (!::CryptStringToBinaryA(compact.data(), static_cast<DWORD>(compact.size()), CRYPT_STRING_BASE64,
                              reinterpret_cast<BYTE*>(bytes.data()), &length, nullptr, nullptr)) {
    return KV_MARK(ResultChain(err::InvalidFormat) + LastErrorChain());
  }
  bytes.resize(length);
  return {};
}

ResultChain PublicKeyBlobs(const std::wstring& publicKeyText, std::vector<std::string>& blobs) {
  blobs.clear();
  for (wchar_t c : publicKeyText) {
    if (c > 0x7F) return KV_MARK(PublicKeyInvalid);
  }
  const std::string text(publicKeyText.begin(), publicKeyText.end());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = text.find_first_not_of(" \t", at);
    if (start == std::string::npos) break;
    const std::size_t end = std::min(text.find_first_of(" \t", start), text.size());
    std::string blob;
    if (blobs.size() == kMaxPublicKeys || FromBase64(text.substr(start, end - start), blob).Failed() ||
        !HasShape(blob, BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 2)) {
      return KV_MARK(PublicKeyInvalid);
    }
    blobs.push_back(std::move(blob));
    at = end;
  }
  if (blobs.empty()) return KV_MARK(PublicKeyInvalid);
  return {};
}

ResultChain VerifySetSignature(const std::wstring& publicKeyText, const std::string& manifestBytes,
                               const std::string& signatureText) {
  std::vector<std::string> blobs;
  KV_RETURN_IF_FAILED(PublicKeyBlobs(publicKeyText, blobs));
  CngAlgorithm algorithm;
  KV_RETURN_IF_FAILED(OpenAlgorithm(algorithm));
  std::string signature;
  if (FromBase64(signatureText, signature).Failed() || signature.size() != kSignatureBytes) {
    return KV_MARK(SignatureInvalid);
  }
  Digest256 digest = DigestOf(manifestBytes);
  for (const std::string& blob : blobs) {
    CngKey key;
    if (const ResultChain imported = ImportKey(algorithm, BCRYPT_ECCPUBLIC_BLOB, blob, key); imported.Failed()) {
      return KV_MARK(ResultChain(PublicKeyInvalid) + imported);
    }
    const NTSTATUS status =
        ::BCryptVerifySignature(key.Get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                reinterpret_cast<PUCHAR>(signature.data()), kSignatureBytes, 0);
    if (BCRYPT_SUCCESS(status)) return {};
  }
  return KV_MARK(SignatureInvalid);
}

ResultChain GenerateSigningKey(std::string& privateBlob, std::string& publicBlob) {
  CngAlgorithm algorithm;
  KV_RETURN_IF_FAILED(OpenAlgorithm(algorithm));
  CngKey key;
  NTSTATUS status = ::BCryptGenerateKeyPair(algorithm.Get(), key.Put(), 8 * kCoordinateBytes, 0);
  if (!BCRYPT_SUCCESS(status)) return KV_MARK(CngFailure(status));
  status = ::BCryptFinalizeKeyPair(key.Get(), 0);
  if (!BCRYPT_SUCCESS(status)) return KV_MARK(CngFailure(status));
  KV_RETURN_IF_FAILED(ExportKey(key, BCRYPT_ECCPRIVATE_BLOB, privateBlob));
  KV_RETURN_IF_FAILED(ExportKey(key, BCRYPT_ECCPUBLIC_BLOB, publicBlob));
  return {};
}

ResultChain PublicBlobOf(const std::string& privateBlob, std::string& publicBlob) {
  if (!HasShape(privateBlob, BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 3)) return KV_MARK(err::InvalidFormat);
  // The private blob is the public one (header, X, Y) followed by the secret d.
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinateBytes};
  publicBlob.assign(reinterpret_cast<const char*>(&header), sizeof(header));
  publicBlob.append(privateBlob, sizeof(header), 2 * kCoordinateBytes);
  return {};
}

ResultChain SignManifest(const std::string& privateBlob, const std::string& manifestBytes,
                         std::string& signatureText) {
  if (!HasShape(privateBlob, BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 3)) return KV_MARK(err::InvalidFormat);
  CngAlgorithm algorithm;
  KV_RETURN_IF_FAILED(OpenAlgorithm(algorithm));
  CngKey key;
  if (const ResultChain imported = ImportKey(algorithm, BCRYPT_ECCPRIVATE_BLOB, privateBlob, key);
      imported.Failed()) {
    return KV_MARK(ResultChain(err::InvalidFormat) + imported);
  }
  Digest256 digest = DigestOf(manifestBytes);
  std::string signature(kSignatureBytes, '\0');
  ULONG written = 0;
  const NTSTATUS status =
      ::BCryptSignHash(key.Get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                       reinterpret_cast<PUCHAR>(signature.data()), kSignatureBytes, &written, 0);
  if (!BCRYPT_SUCCESS(status)) return KV_MARK(CngFailure(status));
  signature.resize(written);
  signatureText = ToBase64(signature);
  return {};
}

}  // namespace kv::refengine
