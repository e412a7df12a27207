// The reference engine's own failure and step codes, family 0x7EC1. Their names travel
// to the service through "ReadErrorTable" (EngineNameTable.cpp); codes the service
// already knows by name come from foundation/ErrorCodes.h instead.
#pragma once

#include "foundation/ResultChain.h"

namespace kv::refengine {

constexpr ErrorCode ReferenceEngineBase = 0x7EC10000;

// Codes of the service's own tables that only this engine raises (the service names
// them; EngineNameTable.cpp repeats the names letter for letter).
constexpr ErrorCode UpdateHttpIni = 0x7EBF0031;     // step: reading the manifest from a web server
constexpr ErrorCode UpdateHttpFolder = 0x7EBF0033;  // step: fetching files from a web server
constexpr ErrorCode InvalidProxyServer = 0x617A001B;

// Settings the update cannot do without.
constexpr ErrorCode DefDatFolderNotSet = 0x7EC10001;
constexpr ErrorCode UpdateUncNotSet = 0x7EC10002;
// The source folder itself is missing or is not a folder.
constexpr ErrorCode UncFolderNotFound = 0x7EC10003;
// Manifest details, each reported under UncIniInvalidFormat.
constexpr ErrorCode ManifestUnsafeName = 0x7EC10004;
constexpr ErrorCode ManifestBadEntry = 0x7EC10005;
constexpr ErrorCode ManifestNoVersion = 0x7EC10006;
constexpr ErrorCode ManifestNoFiles = 0x7EC10007;
// A file whose size differs from the manifest.
constexpr ErrorCode FileSizeMismatch = 0x7EC10008;
// The destination names no folder that can be swapped (a drive root, for example).
constexpr ErrorCode InvalidDefDatFolder = 0x7EC10009;

// Steps, so that a chain says where an update stopped.
constexpr ErrorCode StepRecoverFolders = 0x7EC10010;
constexpr ErrorCode StepVerifyStagedSet = 0x7EC10011;
constexpr ErrorCode StepTakeUpdateLock = 0x7EC10012;

// A folder of the swap stayed in use (a file inside held open without delete sharing)
// through every retry; the system's code follows it.
constexpr ErrorCode DefinitionsInUse = 0x7EC1000A;

// Updates over HTTP(S) and signed sets.
constexpr ErrorCode UpdateUrlNotSet = 0x7EC10020;
// "UpdateUrl" is not an http:// or https:// address that a file name can be added to.
constexpr ErrorCode UpdateUrlInvalid = 0x7EC10021;
// A set from a web server is only installed when its signature can be checked.
constexpr ErrorCode PublicKeyNotSet = 0x7EC10022;
// "PublicKey" is not the base64 text of an ECDSA P-256 public key.
constexpr ErrorCode PublicKeyInvalid = 0x7EC10023;
// The set has no "defset.sig" (or it cannot be read).
constexpr ErrorCode SignatureNotFound = 0x7EC10024;
// "defset.sig" is not a signature of the manifest by the configured key.
constexpr ErrorCode SignatureInvalid = 0x7EC10025;

// Never backwards: the highest version installed so far bounds every later update.
// The published set's version orders before it.
constexpr ErrorCode OlderDefinitionVersion = 0x7EC10030;
// The record of the highest version cannot be read and no installed set tells it.
constexpr ErrorCode HighestVersionDamaged = 0x7EC10031;
// Step: recording the version of the set about to be swapped in.
constexpr ErrorCode StepRecordHighestVersion = 0x7EC10032;

// Freshness that a mirror cannot fake: a signed "Expires" in the manifest.
// The published set's signed expiry has passed: it is not installed.
constexpr ErrorCode SetExpired = 0x7EC10033;
// Nothing newer is offered (a 304, the same version, or a server that asked for time),
// but the installed set's signed expiry has passed: the channel is frozen.
constexpr ErrorCode DefinitionsExpired = 0x7EC10034;
// "RequireExpiry=1" and the published manifest names no expiry.
constexpr ErrorCode ManifestNoExpiry = 0x7EC10035;

// Bounds of the network as a whole.
// The update spent "TransferDeadlineSec" on the network and was ended.
constexpr ErrorCode TransferDeadlineExceeded = 0x7EC10026;
// The server asked for time (a 429 or 503 with "Retry-After"): until the moment the
// result text names ("NotBefore", UTC), an update sends it no request and ends so.
constexpr ErrorCode UpdateDeferred = 0x7EC10027;
// A request for part of a file was not answered with exactly that part (a server that
// ignores "Range", or a 416): the file is fetched whole instead.
constexpr ErrorCode RangeNotServed = 0x7EC10028;
// A compressed copy or a patch did not decode to exactly the listed file (damaged, a
// window above the format's limit, more bytes than the file's size, or cut short): the
// file is fetched another way.
constexpr ErrorCode PackedObjectInvalid = 0x7EC10029;

}  // namespace kv::refengine
