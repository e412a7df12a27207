#include "scan/ScanSession.h"

#include <algorithm>
#include <vector>

#include "foundation/ErrorCodes.h"

namespace kv {

namespace {

// A hostile engine could ask for any INI text size; beyond this it is not believed.
constexpr std::uint32_t kMaxIniTextUnits = 1u << 20;

struct ZeroedRecord : EngineErrorRecord {
  ZeroedRecord() : EngineErrorRecord{} {}
};

// A zeroed buffer of `units` for the engine plus one unit that stays zero, so the text
// always ends inside the buffer even if the engine fills it completely.
std::vector<wchar_t> EngineBuffer(std::uint32_t units) { return std::vector<wchar_t>(units + 1, L'\0'); }

std::wstring TextOf(const std::vector<wchar_t>& buffer) { return std::wstring(buffer.data()); }

}  // namespace

ScanSession::~ScanSession() {
  // Nothing is left to report a failure to.
  (void)Close();
  module_.Unload();
  (void)initEvent_.Close();
}

void ScanSession::ResetInitEvent() {
  if (initEvent_.IsOpen()) ::ResetEvent(initEvent_.Get());
}

// Gives an engine object back to its library without uninitialising it: for objects
// that were never accepted, or that a failed close left behind.
void ScanSession::ReleaseEngine() {
  if (engine_ != nullptr && module_.Check() == 0) module_.releaseObject()(engine_);
  engine_ = nullptr;
}

ResultChain ScanSession::Open(const std::wstring& libraryPath) {
  // An engine that refuses to uninitialize is released below all the same.
  (void)Close();
  ::SetCurrentDirectoryW((libraryPath + L"\\..\\").c_str());
  if (module_.Check() != 0) {
    if (const ErrorCode code = module_.Load(libraryPath); code != 0) return ResultChain(code);
  }
  ReleaseEngine();

  ScanEngine* object = nullptr;
  ErrorCode code = module_.Check();
  if (code == 0) code = module_.createObject()(&object, 0);
  if (code != 0) return ResultChain(code);
  if (object == nullptr) return ResultChain(err::InvalidObject);
  if (object->ops == nullptr) {
    // Unusable, but the library made it: it goes back to the library all the same.
    module_.releaseObject()(object);
    return ResultChain(err::InvalidObject);
  }

  std::uint32_t version = 0;
  code = object->ops->GetInterfaceVersion(object, &version);
  if (code == 0 && version != kEngineInterfaceVersion) code = err::NotSupportVersion;
  if (code != 0) {
    module_.releaseObject()(object);
    return ResultChain(code);
  }
  engine_ = object;
  return {};
}

ResultChain ScanSession::Close() {
  ResetInitEvent();
  if (engine_ != nullptr) {
    ZeroedRecord record;
    if (engine_->ops->Uninitialize(engine_, record.codes, &record.count) != 0) return RecordChain(record);
    ReleaseEngine();
  }
  module_.Unload();
  return {};
}

ResultChain ScanSession::ReadIniText(std::wstring& text) {
  if (engine_ == nullptr) return ResultChain(err::InvalidObject);
  std::uint32_t length = 1024;
  std::vector<wchar_t> buffer = EngineBuffer(length);
  ErrorCode code = engine_->ops->GetIniText(engine_, buffer.data(), &length);
  if (code != 0) {
    length = std::min(length, kMaxIniTextUnits);
    buffer = EngineBuffer(length);
    code = engine_->ops->GetIniText(engine_, buffer.data(), &length);
    if (code != 0) return ResultChain(code);
  }
  text = TextOf(buffer);
  return {};
}

ResultChain ScanSession::CheckInitialized() {
  if (const ErrorCode code = module_.Check(); code != 0) return ResultChain(code);
  if (engine_ == nullptr) return ResultChain(err::InvalidObject);
  ZeroedRecord record;
  if (engine_->ops->CheckInitialized(engine_, record.codes, &record.count) != 0) return RecordChain(record);
  return {};
}

ResultChain ScanSession::Update(const std::wstring& settings, std::wstring& result) {
  if (engine_ == nullptr) return ResultChain(err::InvalidObject);
  ZeroedRecord record;
  std::vector<wchar_t> buffer = EngineBuffer(kEngineResultUnits);
  const std::wstring input = result;
  const ErrorCode code =
      engine_->ops->UpdateDefinition(engine_, record.codes, &record.count, input.c_str(), buffer.data(), settings.c_str());
  result = TextOf(buffer);
  if (code != 0) return RecordChain(record);
  return {};
}

ResultChain ScanSession::Initialize(const std::wstring& settings, std::wstring& result) {
  ResetInitEvent();
  if (engine_ == nullptr) return ResultChain(err::InvalidObject);
  ZeroedRecord record;
  std::vector<wchar_t> buffer = EngineBuffer(kEngineResultUnits);
  const ErrorCode code =
      engine_->ops->Initialize(engine_, record.codes, &record.count, buffer.data(), settings.c_str(), 0);
  if (code != 0) return RecordChain(record);
  result = TextOf(buffer);
  return {};
}

bool DefinitionsCurrent(const ResultChain& update) {
  return !update.Failed() || update.Contains(err::AlreadyLastestDefinition);
}

}  // namespace kv
