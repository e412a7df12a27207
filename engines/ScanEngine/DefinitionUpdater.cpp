#include "DefinitionUpdater.h"

#include "DefinitionSwap.h"
#include "RetryAfter.h"
#include "SetSource.h"
#include "StagedParts.h"
#include "UpdateLock.h"
#include "defset/EngineCodes.h"
#include "defset/FileTransfer.h"
#include "defset/HighestVersion.h"
#include "defset/SetIdentity.h"
#include "defset/SetSignature.h"
#include "foundation/ErrorCodes.h"

namespace kv::refengine {

namespace {

// A folder name is needed to place staging and backup beside it: a drive or share
// root has none.
bool HasFolderName(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos || slash + 1 >= path.size()) return false;
  if (path.size() >= 2 && path[1] == L':' && path.find(L'\\') == std::wstring::npos) return false;
  // "\\server\share" is the root of a share.
  if (path.rfind(L"\\\\", 0) == 0 && path.find(L'\\', 2) == slash) return false;
  return true;
}

ResultChain CheckDestination(const UpdateRequest& request) {
  if (request.destination.empty()) return KV_MARK(DefDatFolderNotSet);
  if (!HasFolderName(request.destination)) return KV_MARK(InvalidDefDatFolder);
  return {};
}

// The installed set as its manifest describes it, whether every file still matches it
// (and which ones do), and where it came from.
struct InstalledSet {
  std::string bytes;  // of its manifest
  DefinitionManifest manifest;
  InstalledCheck check;
  bool intact = false;
  SetOrigin origin;
};

InstalledSet ReadInstalledSet(const DefinitionFolders& folders, unsigned fullVerifyDays) {
  InstalledSet installed;
  if (LoadManifest(folders.current, installed.bytes, installed.manifest).Failed()) return {};
  installed.check =
      CheckInstalledSet(folders.current, installed.manifest, installed.bytes, folders.identities, fullVerifyDays);
  installed.intact = installed.check.intact;
  if (installed.intact) installed.origin = ReadOrigin(folders.current);
  return installed;
}

// Records what the installed files are now. The last full hash stays the one that
// confirmed the linked files; a set of files all written by this update was hashed whole
// on the way. Failing costs only a full check at the next update.
void RecordInstalledIdentities(const DefinitionFolders& folders, const PublishedSet& published,
                               const InstalledCheck& check, const StagingCounts& counts,
                               const std::vector<StagedFile>& staged) {
  SetIdentities record;
  record.manifest = Sha256::Of(published.manifestBytes.data(), published.manifestBytes.size());
  record.hashedAt = counts.linkedFiles == 0 ? IdentityClock() : check.hashedAt;
  for (std::size_t i = 0; i < staged.size(); ++i) {
    record.files.emplace_back(published.manifest.files[i].name, staged[i].identity);
  }
  (void)RecordSetIdentities(folders.identities, record);  // without it the next check hashes every file
}

ResultChain InstallSet(SetSource& source, const PublishedSet& published, const InstalledSet& installed,
                       const DefinitionFolders& folders, const std::wstring& floor, DWORD pauseMs,
                       StagingCounts& counts) {
  std::vector<StagedFile> staged;
  KV_RETURN_IF_FAILED_AT(StageDefinitionSet(source, published, installed.manifest, installed.check, folders.current,
                                            folders.staging, folders.partial, pauseMs, counts, staged),
                         source.FilesStep());
  KV_RETURN_IF_FAILED_AT(CheckStagedSet(published.manifest, staged), StepVerifyStagedSet);
  // Recorded before the swap: a process killed between the two can only leave the
  // record ahead of the installed set, never behind it.
  if (floor.empty() || CompareVersions(published.manifest.version, floor) > 0) {
    KV_RETURN_IF_FAILED_AT(RecordHighestVersion(folders.highest, published.manifest.version), StepRecordHighestVersion);
  }
  KV_RETURN_IF_FAILED(SwapInStaging(folders));
  RecordInstalledIdentities(folders, published, installed.check, counts, staged);
  // Parts of cut transfers are only worth their chunks until a set is installed; any
  // left are removed by the next update that gets this far.
  (void)RemoveFolderTree(folders.partial);
  return {};
}

// A server that answered 429 or 503 with "Retry-After" is left alone until then. Failing
// to keep the moment costs the server one more request at the next update.
void KeepAskedTime(const SetSource& source, const std::wstring& path, UpdateReport& report) {
  const std::optional<std::int64_t> asked = source.AskedNotBefore();
  if (!asked || *asked <= UtcNow()) return;
  (void)RecordNotBefore(path, {*asked, source.Name()});  // best effort: the report says it
  report.notBefore = UtcText(*asked);
}

// The destination has a folder name, and the configured keys can be read.
ResultChain CheckRequest(const UpdateRequest& request) {
  KV_RETURN_IF_FAILED(CheckDestination(request));
  if (!request.publicKey.empty()) {
    std::vector<std::string> keys;
    KV_RETURN_IF_FAILED(PublicKeyBlobs(request.publicKey, keys));
  }
  return {};
}

// The lowest version this machine may install: the highest it ever had.
ResultChain VersionFloorOf(const DefinitionFolders& folders, const InstalledSet& installed, std::wstring& floor) {
  const HighestVersion recorded = ReadHighestVersion(folders.highest);
  KV_RETURN_IF_FAILED(VersionFloor(recorded, &installed.manifest, floor));
  // An installed set the record does not cover yet (a record lost, or kept only since
  // this engine): raised now, so that removing the definitions later cannot reset it.
  // Failing costs nothing now; the next update tries again.
  if (!floor.empty() && (recorded.state != HighestVersion::State::kKnown || recorded.version != floor)) {
    (void)RecordHighestVersion(folders.highest, floor);
  }
  return {};
}

// The server asked for time that has not passed: the update waits, and says so.
ResultChain Deferred(const SetSource& source, const NotBeforeRecord& wait, bool installedExpired,
                     UpdateReport& report) {
  report.notBefore = UtcText(wait.utc);
  if (installedExpired) return KV_MARK(ResultChain(DefinitionsExpired) + UpdateDeferred + source.ManifestStep());
  return KV_MARK(ResultChain(UpdateDeferred) + source.ManifestStep());
}

// The server says its set has not changed since the installed one.
ResultChain Unchanged(const DefinitionFolders& folders, const SetSource& source, bool installedExpired,
                      UpdateReport& report) {
  (void)RemoveFolderTree(folders.partial);  // best effort, as after an install
  if (installedExpired) return KV_MARK(ResultChain(DefinitionsExpired) + source.ManifestStep());
  report.countsKnown = true;
  return err::AlreadyLastestDefinition;
}

// The published manifest, vouched for and parsed, and fit to install: signed where keys
// are configured, with an expiry where one is required, not expired, not older than the
// floor.
ResultChain CheckPublished(const UpdateRequest& request, const SetSource& source, const std::wstring& floor,
                           std::int64_t now, PublishedSet& published) {
  // Authenticated first: no byte of a manifest reaches the parser before the signature
  // has vouched for it.
  if (!request.publicKey.empty()) {
    KV_RETURN_IF_FAILED_AT(VerifySetSignature(request.publicKey, published.manifestBytes, published.signature),
                           source.ManifestStep());
  }
  KV_RETURN_IF_FAILED_AT(ParseManifest(published.manifestBytes, published.manifest), source.ManifestStep());
  if (request.requireExpiry && !published.manifest.expires) {
    return KV_MARK(ResultChain(ManifestNoExpiry) + source.ManifestStep());
  }
  // A set past its signed expiry is what a mirror that stopped would go on serving.
  if (Expired(published.manifest, now)) return KV_MARK(ResultChain(SetExpired) + source.ManifestStep());
  // Anyone who kept an old signed set could otherwise turn the definitions back to it. A
  // publisher who means to go back publishes the older content under a newer version.
  if (!floor.empty() && CompareVersions(published.manifest.version, floor) < 0) {
    return KV_MARK(ResultChain(OlderDefinitionVersion) + source.ManifestStep());
  }
  return {};
}

// The installed set is the published one: what the server says of it now is kept.
ResultChain KeepCurrentSet(const DefinitionFolders& folders, const PublishedSet& published,
                           const InstalledSet& installed, UpdateReport& report) {
  // A server may re-tag a set it did not change (a redeploy, a restored backup). Keep
  // what it says now, or every later check fetches the manifest in full again. Failing
  // to keep it costs only that, so the update still reports the set as current.
  if (!published.origin.url.empty() && published.origin != installed.origin) {
    (void)ReplaceWholeFile(folders.current + L"\\" + kOriginName, OriginBytes(published.origin));
  }
  // Parts kept for a set are no use once the machine has the published one (best effort).
  (void)RemoveFolderTree(folders.partial);
  report.countsKnown = true;
  return err::AlreadyLastestDefinition;
}

}  // namespace

ResultChain RunDefinitionUpdate(const UpdateRequest& request, UpdateReport& report) {
  report = UpdateReport{};
  report.source = request.source;
  std::unique_ptr<SetSource> source;
  KV_RETURN_IF_FAILED(OpenSource(request, source));
  report.source = source->Name();
  KV_RETURN_IF_FAILED(CheckRequest(request));
  const DefinitionFolders folders = DefinitionFolders::Beside(request.destination);

  UpdateLock lock;
  KV_RETURN_IF_FAILED_AT(lock.Take(folders.lock), StepTakeUpdateLock);
  // The staging folder of an updater that was ended goes; what it had fetched is kept.
  KeepStagedParts(folders);
  KV_RETURN_IF_FAILED_AT(RecoverFolders(folders), StepRecoverFolders);
  const InstalledSet installed = ReadInstalledSet(folders, request.fullVerifyDays);
  if (installed.intact) report.installed = installed.manifest;
  std::wstring floor;
  KV_RETURN_IF_FAILED(VersionFloorOf(folders, installed, floor));

  const std::int64_t now = UtcNow();
  // Nothing newer to be had while the installed set's signed expiry has passed is no
  // "current" and no mere wait: a mirror or a path that withholds sets must show.
  const bool installedExpired = installed.intact && Expired(installed.manifest, now);
  const std::wstring notBeforePath = NotBeforePath(folders.current);
  if (const std::optional<NotBeforeRecord> wait = HonouredNotBefore(notBeforePath, source->Name(), now)) {
    return Deferred(*source, *wait, installedExpired, report);
  }

  PublishedSet published;
  if (const ResultChain read = source->ReadManifest(installed.intact ? &installed.origin : nullptr,
                                                    !request.publicKey.empty(), published);
      read.Failed()) {
    KeepAskedTime(*source, notBeforePath, report);
    return KV_MARK(read + source->ManifestStep());
  }
  if (published.notModified) return Unchanged(folders, *source, installedExpired, report);
  KV_RETURN_IF_FAILED(CheckPublished(request, *source, floor, now, published));
  // The publisher signed the same set again, with a new expiry: it is installed like any
  // set (its files linked), so that its manifest and signature count from now on, and
  // the update reports it as current.
  const bool sameVersion = installed.intact && installed.manifest.version == published.manifest.version;
  const bool resigned = sameVersion && published.manifestBytes != installed.bytes;
  if (sameVersion && !resigned) return KeepCurrentSet(folders, published, installed, report);

  if (const ResultChain done =
          InstallSet(*source, published, installed, folders, floor, request.copyDelayMs, report.counts);
      done.Failed()) {
    // The previous set is still current; only the half-built staging folder goes, what
    // it had fetched kept for the next update.
    KeepStagedParts(folders);
    (void)RemoveFolderTree(folders.staging);  // the update's failure is the one reported
    KeepAskedTime(*source, notBeforePath, report);
    return KV_MARK(done);
  }
  report.installed = published.manifest;
  report.countsKnown = true;
  if (resigned) return err::AlreadyLastestDefinition;
  return {};
}

}  // namespace kv::refengine
