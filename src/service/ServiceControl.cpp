#include "service/ServiceControl.h"

#include <new>

#include "config/IniDocument.h"
#include "foundation/TextFormat.h"
#include "service/AppContext.h"
#include "service/UpdaterEngine.h"

namespace kv {

namespace {

// The engine slot: set once start-up has loaded a scan module, cleared by the stop.
// Written by the service thread before the running report and by the control handler
// afterwards, so the two never overlap.
UpdaterEngine* g_engine = nullptr;

}  // namespace

void InitializeService() noexcept {
  // Start-up never fails the service; without an engine it answers controls only.
  IniDocument settings;
  AppContext& context = AppContext::Instance();
  (void)context.GetSettings(settings);  // always succeeds
  if (context.LoadScanModule(settings).Failed()) return;  // no engine: the service idles (said there)
  FormatCodeText(0, 2);
  if (g_engine == nullptr) g_engine = new (std::nothrow) UpdaterEngine(context);
  if (g_engine != nullptr) (void)g_engine->Start();  // always succeeds
}

void ShutdownEngine() {
  if (g_engine == nullptr) return;
  g_engine->Stop();
  // A start-up thread that would not end still uses the engine: leave it to the
  // process's end rather than free it under that thread.
  if (g_engine->CanBeDestroyed()) delete g_engine;
  g_engine = nullptr;
}

void RequestUpdateNow() {
  // A refused request (an update or the start-up still running) is dropped, as for the timer.
  if (g_engine != nullptr) (void)g_engine->RunUpdateNow();
}

}  // namespace kv
