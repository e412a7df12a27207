#include "service/DefinitionUpdateJob.h"

#include <windows.h>

#include <ctime>

#include "config/IniDocument.h"
#include "foundation/ErrorCodes.h"
#include "foundation/PathName.h"
#include "scan/FolderCleanup.h"
#include "scan/ScannerVersionRecord.h"
#include "service/AppContext.h"

namespace kv {

namespace {

bool StopRequested(const AppContext& context) {
  const HANDLE event = context.StopEvent();
  if (event == nullptr) return false;
  const DWORD wait = ::WaitForSingleObject(event, 0);
  return wait != WAIT_TIMEOUT && wait != WAIT_FAILED;
}

}  // namespace

ResultChain DefinitionUpdateJob::Run(AppContext& context, std::clock_t start, FolderCleanup cleanup) {
  if (StopRequested(context)) return ResultChain(err::BreakInterrupt);
  IniDocument settings;
  if (ResultChain copied = context.GetSettings(settings); copied.Count() != 0) return copied;
  // A clean-up refused because users could steer it is said in the update's record;
  // any other outcome of it (no old copies, an entry in use) is not the update's concern.
  const FolderCleanup run = cleanup != nullptr ? cleanup : static_cast<FolderCleanup>(&ProgramFolderCleanup);
  const ResultChain cleaned = run(ModulePath(), L"app");
  const ResultChain refusal = cleaned.Contains(err::InvalidParent) ? cleaned : ResultChain();
  if (StopRequested(context)) return ResultChain(err::BreakInterrupt);

  std::wstring resultText;
  IniDocument result;
  const ResultChain update = context.Session().Update(settings.ToText(), resultText);
  if (context.Session().CheckInitialized().Last() != 0) {
    // The engine lost its initialisation: give it the same settings again. Its result
    // text, when it succeeds, is what the log should show.
    context.Session().Initialize(settings.ToText(), resultText);
  }
  result.Parse(resultText);

  const unsigned seconds = static_cast<unsigned>((std::clock() - start) * 0.001);
  WriteUpdateLogRecord(context.Log(), result, update, seconds, std::time(nullptr), refusal);
  context.SetSettings(settings);
  if (update.Count() == 0 || update.Contains(err::AlreadyLastestDefinition)) {
    // A version file that cannot be written leaves the old one, and says so in the log.
    if (ResultChain written = WriteScannerVersionFile(settings, result); written.Failed()) {
      context.Log().Write(VersionFileFailureText(ScannerVersionFilePath(settings), written, std::time(nullptr)));
    }
  }
  return update;
}

DWORD WINAPI UpdateThreadMain(void* parameter) {
  AppContext& context = *static_cast<AppContext*>(parameter);
  const std::clock_t start = std::clock();
  ResultChain result = DefinitionUpdateJob::Run(context, start);
  if (result.Count() == 0) return 0;
  result.Add(err::ThUpdate);
  return result.Last();
}

}  // namespace kv
