// Signed definition sets: "defset.sig" beside the manifest holds an ECDSA P-256
// signature over the manifest's exact bytes (SHA-256), as the base64 text of the 64
// bytes r||s that Windows CNG produces. The public key that checks it is the base64 text
// of a BCRYPT_ECCPUBLIC_BLOB, carried in the engine's built-in settings ("PublicKey");
// the publisher keeps the matching BCRYPT_ECCPRIVATE_BLOB ("kvtool keygen", "kvtool
// sign"). All public-key work is CNG's (bcrypt); the digest is the system's own SHA-256.
#pragma once

#include <string>
#include <vector>

#include "foundation/ResultChain.h"

namespace kv::refengine {

// Longest signature file read: the text is under 100 bytes; the rest is slack for line
// ends and white space an editor might add.
inline constexpr std::size_t kMaxSignatureBytes = 4096;

// Base64 without line breaks, and back (white space is ignored when reading). A text
// that is not base64 fails with InvalidFormat.
std::string ToBase64(const std::string& bytes);
ResultChain FromBase64(const std::string& text, std::string& bytes);

// "PublicKey" names one key, or two separated by a space while a publisher moves from
// one key to the next: a set signed with either is accepted.
inline constexpr std::size_t kMaxPublicKeys = 2;

// The key blobs of a public key text, in its order; PublicKeyInvalid when it names no
// key, more than two, or one that is not a P-256 public key.
ResultChain PublicKeyBlobs(const std::wstring& publicKeyText, std::vector<std::string>& blobs);

// Checks `signatureText` over `manifestBytes` with the key (or either key) of the public
// key text. PublicKeyInvalid when the key text is not what PublicKeyBlobs reads;
// SignatureInvalid when the signature is malformed or matches no key.
ResultChain VerifySetSignature(const std::wstring& publicKeyText, const std::string& manifestBytes,
                               const std::string& signatureText);

// A new P-256 key pair as CNG blobs: BCRYPT_ECCPRIVATE_BLOB and BCRYPT_ECCPUBLIC_BLOB.
ResultChain GenerateSigningKey(std::string& privateBlob, std::string& publicBlob);

// The public blob that belongs to a private blob; InvalidFormat when it is not one.
ResultChain PublicBlobOf(const std::string& privateBlob, std::string& publicBlob);

// The signature text of `manifestBytes` with a private blob.
ResultChain SignManifest(const std::string& privateBlob, const std::string& manifestBytes,
                         std::string& signatureText);

}  // namespace kv::refengine
