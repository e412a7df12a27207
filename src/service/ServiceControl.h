// The three process-level operations through which the service frame starts, stops and
// prods the system. They hold the process-wide engine slot.
#pragma once

namespace kv {

// Builds the process context and the engine and starts the engine. Never fails: a
// start-up that creates no engine still lets the service report running. Nothing it
// calls reports a failure by throwing; only an allocation could throw, and that ends
// the process here, as it does anywhere else in the service, instead of unwinding into
// the service dispatcher's frames.
void InitializeService() noexcept;

// Stops and destroys the engine, if there is one.
void ShutdownEngine();

// Asks the engine, if there is one, to start an update now.
void RequestUpdateNow();

}  // namespace kv
