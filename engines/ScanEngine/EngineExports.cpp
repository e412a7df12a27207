// The library's face to the service: the three exports and the engine object's
// operation table. Every operation turns its ResultChain into the caller's failure
// record, and nothing thrown inside ever crosses into the caller.
#include <windows.h>

#include <algorithm>
#include <new>
#include <string>

#include "DefinitionUpdater.h"
#include "EngineNameTable.h"
#include "EngineSettings.h"
#include "ResultText.h"
#include "config/IniDocument.h"
#include "foundation/ErrorCodes.h"
#include "scan/ScanEngineContract.h"

namespace kv::refengine {

namespace {

struct ReferenceEngine : ScanEngine {
  // The settings text of the last Initialize: used by an update handed no settings.
  std::wstring storedSettings;
};

ReferenceEngine* Self(ScanEngine* self) { return static_cast<ReferenceEngine*>(self); }

// Fills the record with the chain's codes in stored order, so that adding them one by
// one rebuilds the same chain. A chain longer than the record keeps its root-cause end.
ErrorCode Report(const ResultChain& chain, std::uint32_t* codes, std::uint32_t* count) {
  if (!chain.Failed()) return 0;
  const std::vector<ErrorCode>& all = chain.Codes();
  const std::size_t n = std::min<std::size_t>(all.size(), EngineErrorRecord::kCapacity);
  if (codes != nullptr && count != nullptr) {
    std::copy(all.end() - static_cast<std::ptrdiff_t>(n), all.end(), codes);
    *count = static_cast<std::uint32_t>(n);
  }
  return chain.Last();
}

// Runs an operation body; a failure to allocate becomes FatalUpdateError.
template <typename Body>
ErrorCode Guarded(std::uint32_t* codes, std::uint32_t* count, Body body) {
  try {
    return Report(body(), codes, count);
  } catch (...) {
    return Report(KV_MARK(err::FatalUpdateError), codes, count);
  }
}

std::wstring IniText() {
  IniDocument text;
  // IniDocument's setters always succeed.
  (void)text.SetString(L"IniKey", kEngineSection, L"Setting");
  // A test aid: a pause after each copied file, so that an update can be interrupted.
  (void)text.SetString(L"CopyDelayMs", L"0", kEngineSection);
  // The web transport's defaults.
  for (const wchar_t* key : {L"ConnectTimeoutSec", L"SendTimeoutSec", L"ReceiveTimeoutSec"}) {
    (void)text.SetString(key, L"60", kEngineSection);
  }
  (void)text.SetString(L"MaxRedirects", L"5", kEngineSection);
  (void)text.SetString(L"TransferDeadlineSec", L"1800", kEngineSection);
  (void)text.SetString(L"CheckRevocation", L"1", kEngineSection);
  (void)text.SetString(L"FullVerifyDays", L"7", kEngineSection);
  return text.ToText();
}

ErrorCode WINAPI GetInterfaceVersion(ScanEngine*, std::uint32_t* version) {
  if (version == nullptr) return err::InvalidArgumentNullPointer;
  *version = kEngineInterfaceVersion;
  return 0;
}

ErrorCode WINAPI NotProvided(ScanEngine*) { return err::InavlidDllFunction; }

// The engine needs no start-up work, so it is initialised from creation on.
ErrorCode WINAPI CheckInitialized(ScanEngine*, std::uint32_t*, std::uint32_t*) { return 0; }

ErrorCode WINAPI Uninitialize(ScanEngine* self, std::uint32_t* codes, std::uint32_t* count) {
  return Guarded(codes, count, [&]() -> ResultChain {
    Self(self)->storedSettings.clear();
    return {};
  });
}

ErrorCode WINAPI GetIniText(ScanEngine*, wchar_t* buffer, std::uint32_t* length) {
  if (length == nullptr) return err::InvalidArgumentNullPointer;
  try {
    const std::wstring text = IniText();
    const auto needed = static_cast<std::uint32_t>(text.size() + 1);
    if (buffer == nullptr || *length < needed) {
      *length = needed;
      return err::InvalidBuffer;
    }
    CopyToResultBuffer(text, buffer, *length);
    return 0;
  } catch (...) {
    return err::FatalUpdateError;
  }
}

ErrorCode WINAPI Initialize(ScanEngine* self, std::uint32_t* codes, std::uint32_t* count, wchar_t* result,
                            const wchar_t* settings, std::uint32_t) {
  return Guarded(codes, count, [&]() -> ResultChain {
    Self(self)->storedSettings = settings != nullptr ? settings : L"";
    CopyToResultBuffer(InitializeText(), result, kEngineResultUnits);
    return {};
  });
}

ErrorCode WINAPI UpdateDefinition(ScanEngine* self, std::uint32_t* codes, std::uint32_t* count, const wchar_t*,
                                  wchar_t* result, const wchar_t* settings) {
  return Guarded(codes, count, [&]() -> ResultChain {
    const bool given = settings != nullptr && settings[0] != L'\0';
    const UpdateRequest request = ReadUpdateRequest(given ? std::wstring(settings) : Self(self)->storedSettings);
    UpdateReport report;
    const ResultChain outcome = RunDefinitionUpdate(request, report);
    CopyToResultBuffer(ResultText(report), result, kEngineResultUnits);
    return outcome;
  });
}

const ScanEngineOps kOperations = {
    &GetInterfaceVersion, &NotProvided, &CheckInitialized, &Uninitialize,     &GetIniText,
    &Initialize,          &NotProvided, &NotProvided,      &UpdateDefinition,
};

}  // namespace

}  // namespace kv::refengine

#define KV_ENGINE_EXPORT extern "C" __declspec(dllexport)

KV_ENGINE_EXPORT kv::ErrorCode WINAPI CreateObject(kv::ScanEngine** object, std::uint32_t) {
  if (object == nullptr) return kv::err::InvalidArgumentNullPointer;
  auto* engine = new (std::nothrow) kv::refengine::ReferenceEngine();
  if (engine == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  engine->ops = &kv::refengine::kOperations;
  *object = engine;
  return 0;
}

KV_ENGINE_EXPORT kv::ErrorCode WINAPI ReleaseObject(kv::ScanEngine* object) {
  if (object == nullptr || object->ops != &kv::refengine::kOperations) return kv::err::InvalidObject;
  delete kv::refengine::Self(object);
  return 0;
}

KV_ENGINE_EXPORT kv::ErrorCode WINAPI ReadErrorTable(const kv::ErrorNameRow** rows, std::uint32_t* count) {
  if (rows == nullptr || count == nullptr) return kv::err::InvalidArgumentNullPointer;
  std::size_t n = 0;
  *rows = kv::refengine::EngineNameRows(n);
  *count = static_cast<std::uint32_t>(n);
  return 0;
}
