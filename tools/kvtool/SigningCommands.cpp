// "kvtool keygen" and "kvtool sign": the publisher's side of signed definition sets.
//
// keygen makes an ECDSA P-256 key pair with Windows CNG and writes it to a new file that
// only its maker and the administrators may open:
//
//   ; ... comment ...
//   [SigningKey]
//   PrivateKey=<base64 of a BCRYPT_ECCPRIVATE_BLOB>
//   PublicKey=<base64 of a BCRYPT_ECCPUBLIC_BLOB>
//
// and prints the "PublicKey=" line for the engine's built-in settings. sign checks the
// manifest of a folder and every file it lists (and, with --previous, that its version
// does not order before the previous manifest's), signs the manifest's exact bytes with
// the engine's own code (src/defset/SetSignature.cpp), checks the signature as
// the engine will, and writes "defset.sig" last and by rename.
#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "Commands.h"
#include "ConsoleOutput.h"
#include "ToolSupport.h"
#include "config/IniDocument.h"
#include "defset/DefinitionManifest.h"
#include "defset/FileTransfer.h"
#include "defset/NotBeforeRecord.h"
#include "defset/SetSignature.h"
#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "foundation/PrivateFileAccess.h"
#include "foundation/SecurityDescriptor.h"
#include "foundation/TextFormat.h"
#include "foundation/WholeFile.h"
#include "kernel/HandleHolder.h"
#include "kernel/NamedObject.h"

namespace kv::tool {

namespace {

constexpr wchar_t kKeySection[] = L"SigningKey";
constexpr unsigned long kMostExpiresDays = 3650;

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The private blob of a key file, checked against its public key line.
ResultChain ReadKeyFile(const std::wstring& path, std::string& privateBlob, std::string& publicText) {
  std::string bytes;
  KV_RETURN_IF_FAILED(refengine::ReadWholeFile(path, bytes));
  IniDocument key;
  KV_RETURN_IF_FAILED(key.ParseBytes(bytes));
  const std::wstring privateText = key.GetString(L"PrivateKey", {}, kKeySection);
  KV_RETURN_IF_FAILED(refengine::FromBase64(std::string(privateText.begin(), privateText.end()), privateBlob));
  std::string publicBlob;
  KV_RETURN_IF_FAILED(refengine::PublicBlobOf(privateBlob, publicBlob));
  publicText = refengine::ToBase64(publicBlob);
  return {};
}

// Creates the key file, which must not exist yet, readable by its maker and the
// administrators only. A file that appears at that name meanwhile is someone else's:
// it is neither opened nor replaced (ERROR_FILE_EXISTS).
ResultChain CreateKeyFile(const std::wstring& path, HandleHolder& file) {
  const std::wstring user = ProcessUserSid();
  if (user.empty()) return KV_MARK(LastErrorChain());
  SecurityDescriptor descriptor;
  KV_RETURN_IF_FAILED(descriptor.FromSddl(PrivateFileSddl(user)));
  KV_RETURN_IF_FAILED(file.Attach(::CreateFileW(LongPathForm(path).c_str(), GENERIC_WRITE | DELETE,
                                                /*dwShareMode=*/0, descriptor.Attributes(), CREATE_NEW,
                                                FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr)));
  return {};
}

// Deletes the key file this run made, through its handle, so that nothing else is ever
// touched.
void DiscardKeyFile(HandleHolder& file) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  ::SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof disposition);
  (void)file.Close();  // the handle is given up either way
}

// Writes the whole key and flushes it; a key file that cannot be completed is discarded.
ResultChain FillKeyFile(HandleHolder& file, const std::string& text) {
  if (ResultChain written = WriteAllAndFlush(file.Get(), text); written.Failed()) {
    DiscardKeyFile(file);
    return KV_MARK(written);
  }
  return file.Close();
}

// The manifest's bytes with "Expires=<moment>" as the only expiry of its [DefinitionSet]
// section and every other line as it was; empty when the bytes have no such section in
// a single-byte encoding (a manifest kvtool manifest did not write).
std::string WithExpiry(const std::string& bytes, const std::string& moment) {
  if (bytes.size() >= 2 && (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)) return {};
  const auto key = [](std::string line) {
    if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) line.pop_back();
    for (char& c : line) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return line;
  };
  std::string out;
  bool inSection = false, found = false;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t end = std::min(bytes.find('\n', at), bytes.size() - 1) + 1;
    const std::string line = bytes.substr(at, end - at);
    at = end;
    const std::string text = key(line);
    if (!text.empty() && text.front() == '[') inSection = text == "[definitionset]";
    if (inSection && text.rfind("expires=", 0) == 0) continue;
    out += line;
    if (inSection && !found && text == "[definitionset]") {
      if (out.back() != '\n') out += "\r\n";
      out += "Expires=" + moment + "\r\n";
      found = true;
    }
  }
  return found ? out : std::string();
}

}  // namespace

int RunKeygen(const Arguments& arguments) {
  constexpr wchar_t kCommand[] = L"keygen";
  if (arguments.size() != 1 || arguments[0].empty()) {
    WriteError(
        L"usage: kvtool keygen <private-key-file>\n"
        L"  makes a signing key pair for definition sets, writes it to a new file and prints the\n"
        L"  PublicKey= line for the engine's built-in settings.\n");
    return 2;
  }
  const std::wstring path = FullPathOf(arguments[0]);
  HandleHolder file(INVALID_HANDLE_VALUE);
  if (const ResultChain created = CreateKeyFile(path, file); created.Failed()) {
    if (created.Contains(ERROR_FILE_EXISTS) || created.Contains(ERROR_ALREADY_EXISTS)) {
      return Complain(kCommand, path + L" exists already; a key file is never overwritten", 1);
    }
    return Complain(kCommand, L"cannot create " + path + L": " + created.ToText(), 1);
  }
  std::string privateBlob, publicBlob;
  if (const ResultChain made = refengine::GenerateSigningKey(privateBlob, publicBlob); made.Failed()) {
    DiscardKeyFile(file);
    return Complain(kCommand, L"cannot make a key: " + made.ToText(), 1);
  }
  const std::string publicText = refengine::ToBase64(publicBlob);
  const std::string text =
      "; Kestravondalsc definition-set signing key (ECDSA P-256), made by kvtool keygen.\r\n"
      "; Keep this file secret and off the machines: they need only the public key.\r\n[SigningKey]\r\nPrivateKey=" +
      refengine::ToBase64(privateBlob) + "\r\nPublicKey=" + publicText + "\r\n";
  if (const ResultChain written = FillKeyFile(file, text); written.Failed()) {
    return Complain(kCommand, L"cannot write " + path + L": " + written.ToText(), 1);
  }
  WriteOut(L"Wrote the signing key to " + path +
           L". Keep it secret; sign sets with: kvtool sign <folder> " + arguments[0] +
           L"\nThe public key, for section [ScanEngine] of the built-in configuration:\nPublicKey=" +
           Wide(publicText) + L"\n");
  return 0;
}

namespace {

constexpr wchar_t kSignCommand[] = L"sign";
constexpr wchar_t kSignUsage[] =
    L"usage: kvtool sign [--previous <manifest>] [--expires-days <days>] <folder> <private-key-file>\n"
    L"  signs the folder's defset.ini (written by kvtool manifest) and writes defset.sig beside it;\n"
    L"  with --previous, only when its version does not order before that manifest's;\n"
    L"  with --expires-days (1 to 3650), the manifest first says Expires= that many days from now:\n"
    L"  machines refuse the set after it, and report a frozen channel if nothing newer comes.\n";

struct SignRequest {
  std::wstring folder;
  std::wstring keyPath;
  std::wstring previous;
  unsigned long expiresDays = 0;
};

// The folder, the key file and the options; false when they are not what the usage says.
bool ReadSignArguments(const Arguments& arguments, SignRequest& request) {
  Arguments positional;
  bool wrong = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == L"--previous" && i + 1 < arguments.size() && request.previous.empty()) {
      request.previous = arguments[++i];
      wrong = wrong || request.previous.empty();
    } else if (arguments[i] == L"--expires-days" && i + 1 < arguments.size() && request.expiresDays == 0) {
      const std::wstring& days = arguments[++i];
      wchar_t* end = nullptr;
      const unsigned long value = std::wcstoul(days.c_str(), &end, 10);
      request.expiresDays = days.empty() || *end != L'\0' || value < 1 || value > kMostExpiresDays ? 0 : value;
      wrong = wrong || request.expiresDays == 0;
    } else if (arguments[i].rfind(L"--", 0) == 0) {
      wrong = true;
    } else {
      positional.push_back(arguments[i]);
    }
  }
  if (wrong || positional.size() != 2 || positional[0].empty() || positional[1].empty()) return false;
  request.folder = FullPathOf(positional[0]);
  while (request.folder.size() > 3 && (request.folder.back() == L'\\' || request.folder.back() == L'/')) {
    request.folder.pop_back();
  }
  request.keyPath = FullPathOf(positional[1]);
  return true;
}

// Machines that installed the previous set refuse an older one: a set signed anyway
// would only fail on every machine. 0, or the exit code of the complaint.
int CheckAgainstPrevious(const std::wstring& previous, const refengine::DefinitionManifest& manifest) {
  std::wstring previousPath = FullPathOf(previous);
  if (refengine::FolderExists(previousPath)) previousPath += std::wstring(L"\\") + refengine::kManifestName;
  std::string previousBytes;
  refengine::DefinitionManifest previousManifest;
  ResultChain read = refengine::ReadWholeFile(previousPath, previousBytes);
  if (!read.Failed()) read = refengine::ParseManifest(previousBytes, previousManifest);
  if (read.Failed()) {
    return Complain(kSignCommand, L"cannot use the previous manifest " + previousPath + L": " + read.ToText(), 1);
  }
  if (refengine::CompareVersions(manifest.version, previousManifest.version) < 0) {
    return Complain(kSignCommand, L"refused, nothing written: version " + manifest.version + L" orders before " +
                                      previousManifest.version + L" of " + previousPath +
                                      L", and machines never install an older version than they have.\n"
                                      L"To go back, publish the older files under a newer version.",
                    1);
  }
  return 0;
}

// Every file must be as the manifest says. 0, or the exit code of the complaint.
int CheckFilesMatch(const std::wstring& folder, const std::wstring& manifestPath,
                    const refengine::DefinitionManifest& manifest) {
  std::wstring differing;
  for (const refengine::ManifestFile& file : manifest.files) {
    std::uint64_t size = 0;
    Digest256 digest{};
    const ResultChain read = refengine::DigestOfFile(folder + L"\\" + file.name, size, digest);
    if (read.Failed()) {
      differing += L"  " + file.name + L": cannot be read: " + read.ToText() + L"\n";
    } else if (size != file.size || digest != file.digest) {
      differing += L"  " + file.name + L": differs from the manifest\n";
    }
  }
  if (differing.empty()) return 0;
  return Complain(kSignCommand, L"refused, nothing written: the files do not match " + manifestPath + L":\n" +
                                    differing + L"Write the manifest again (kvtool manifest) and sign then.",
                  1);
}

// Writes the manifest again with "Expires=" that many days from now, before it is signed.
// 0, or the exit code of the complaint.
int RenewExpiry(const std::wstring& manifestPath, unsigned long days, std::string& bytes,
                refengine::DefinitionManifest& manifest) {
  const std::wstring moment = UtcText(UtcNow() + static_cast<std::int64_t>(days) * 86400);
  const std::string renewed = WithExpiry(bytes, std::string(moment.begin(), moment.end()));
  refengine::DefinitionManifest check;
  if (renewed.empty() || refengine::ParseManifest(renewed, check).Failed() || !check.expires) {
    return Complain(kSignCommand, L"cannot add an expiry to " + manifestPath +
                                      L"; nothing written. Write the manifest again (kvtool manifest) and sign then.",
                    1);
  }
  // The manifest first: a machine that meets the new manifest with the old signature
  // only fails that one update.
  if (const ResultChain replaced = refengine::ReplaceWholeFile(manifestPath, renewed); replaced.Failed()) {
    return Complain(kSignCommand, L"cannot write " + manifestPath + L": " + replaced.ToText(), 1);
  }
  bytes = renewed;
  manifest.expires = check.expires;
  return 0;
}

// Signs the manifest's exact bytes, checks the signature as the engine will, and writes
// it last. 0, or the exit code of the complaint.
int WriteSignature(const std::wstring& folder, const std::string& privateBlob, const std::string& publicText,
                   const std::string& bytes, std::wstring& target) {
  std::string signature;
  if (const ResultChain signedText = refengine::SignManifest(privateBlob, bytes, signature); signedText.Failed()) {
    return Complain(kSignCommand, L"cannot sign: " + signedText.ToText(), 1);
  }
  if (const ResultChain checked = refengine::VerifySetSignature(Wide(publicText), bytes, signature);
      checked.Failed()) {
    return Complain(kSignCommand, L"the signature does not check out; nothing written: " + checked.ToText(), 1);
  }
  target = folder + L"\\" + refengine::kSignatureName;
  if (const ResultChain replaced = refengine::ReplaceWholeFile(target, signature + "\r\n"); replaced.Failed()) {
    return Complain(kSignCommand, L"cannot write " + target + L": " + replaced.ToText(), 1);
  }
  return 0;
}

}  // namespace

int RunSign(const Arguments& arguments) {
  SignRequest request;
  if (!ReadSignArguments(arguments, request)) {
    WriteError(kSignUsage);
    return 2;
  }
  std::string privateBlob, publicText;
  if (const ResultChain read = ReadKeyFile(request.keyPath, privateBlob, publicText); read.Failed()) {
    return Complain(kSignCommand, L"cannot read a signing key from " + request.keyPath + L": " + read.ToText(), 1);
  }
  // The manifest must be one the engine reads, and every file must be as it says.
  const std::wstring manifestPath = request.folder + L"\\" + refengine::kManifestName;
  std::string bytes;
  refengine::DefinitionManifest manifest;
  if (const ResultChain loaded = refengine::LoadManifest(request.folder, bytes, manifest); loaded.Failed()) {
    return Complain(kSignCommand, L"cannot use " + manifestPath + L": " + loaded.ToText(), 1);
  }
  if (!request.previous.empty()) {
    if (const int refused = CheckAgainstPrevious(request.previous, manifest); refused != 0) return refused;
  }
  if (const int refused = CheckFilesMatch(request.folder, manifestPath, manifest); refused != 0) return refused;
  if (request.expiresDays != 0) {
    if (const int failed = RenewExpiry(manifestPath, request.expiresDays, bytes, manifest); failed != 0) return failed;
  }
  std::wstring target;
  if (const int failed = WriteSignature(request.folder, privateBlob, publicText, bytes, target); failed != 0) {
    return failed;
  }
  WriteOut(FormatText(L"Signed %s: version %s, %u file(s).\nWrote %s.\nMachines check it with PublicKey=%s\n",
                      manifestPath.c_str(), manifest.version.c_str(), static_cast<unsigned>(manifest.files.size()),
                      target.c_str(), Wide(publicText).c_str()));
  if (manifest.expires) {
    WriteOut(L"Expires " + UtcText(*manifest.expires) +
             L": sign it again before then; machines fetch only the new manifest and signature.\n");
  }
  return 0;
}

}  // namespace kv::tool
