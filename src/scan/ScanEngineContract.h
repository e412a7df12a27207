// The binary contract between the service and a scan-engine library.
//
// Libraries may be built by other compilers, so nothing here depends on how our
// compiler lays out C++ classes: the engine object is a plain struct whose first field
// points at a table of plain function pointers, each taking the object as its first
// argument. On x64 Windows that is exactly the member-function convention (the object
// in RCX, then the arguments), and the standard calling convention is the only one.
#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/ErrorNames.h"
#include "foundation/ResultChain.h"

namespace kv {

struct ScanEngine;

// Failure record an engine operation fills: up to 1024 codes and their count.
struct EngineErrorRecord {
  static constexpr std::uint32_t kCapacity = 1024;
  std::uint32_t codes[kCapacity];
  std::uint32_t count;
};

// Result buffers hold this many UTF-16 units; the engine writes a terminated text that fits.
inline constexpr std::uint32_t kEngineResultUnits = 4096;
// The interface version the service requires.
inline constexpr std::uint32_t kEngineInterfaceVersion = 6;

using EngineUnusedOp = ErrorCode(WINAPI*)(ScanEngine* self);

// The engine's operation table. Positions 1, 6 and 7 exist but the service never calls them.
struct ScanEngineOps {
  ErrorCode(WINAPI* GetInterfaceVersion)(ScanEngine* self, std::uint32_t* version);  // 0
  EngineUnusedOp reserved1;                                                          // 1
  ErrorCode(WINAPI* CheckInitialized)(ScanEngine* self, std::uint32_t* codes, std::uint32_t* count);  // 2
  ErrorCode(WINAPI* Uninitialize)(ScanEngine* self, std::uint32_t* codes, std::uint32_t* count);      // 3
  // buffer capacity in UTF-16 units on entry; the length the engine needs when it fails.
  ErrorCode(WINAPI* GetIniText)(ScanEngine* self, wchar_t* buffer, std::uint32_t* length);  // 4
  ErrorCode(WINAPI* Initialize)(ScanEngine* self, std::uint32_t* codes, std::uint32_t* count, wchar_t* result,
                                const wchar_t* settings, std::uint32_t flag);  // 5
  EngineUnusedOp reserved6;                                                    // 6
  EngineUnusedOp reserved7;                                                    // 7
  ErrorCode(WINAPI* UpdateDefinition)(ScanEngine* self, std::uint32_t* codes, std::uint32_t* count,
                                      const wchar_t* input, wchar_t* result, const wchar_t* settings);  // 8
};

struct ScanEngine {
  const ScanEngineOps* ops;
};

static_assert(sizeof(void*) == 8, "the engine contract is defined for x64");
static_assert(offsetof(ScanEngineOps, GetInterfaceVersion) == 0 * sizeof(void*));
static_assert(offsetof(ScanEngineOps, CheckInitialized) == 2 * sizeof(void*));
static_assert(offsetof(ScanEngineOps, Uninitialize) == 3 * sizeof(void*));
static_assert(offsetof(ScanEngineOps, GetIniText) == 4 * sizeof(void*));
static_assert(offsetof(ScanEngineOps, Initialize) == 5 * sizeof(void*));
static_assert(offsetof(ScanEngineOps, UpdateDefinition) == 8 * sizeof(void*));
static_assert(sizeof(EngineErrorRecord) == 1025 * sizeof(std::uint32_t));
static_assert(sizeof(ErrorNameRow) == 16 && offsetof(ErrorNameRow, name) == 8);

// The library's exports, looked up by these names.
using CreateObjectFn = ErrorCode(WINAPI*)(ScanEngine** object, std::uint32_t reserved);
using ReleaseObjectFn = ErrorCode(WINAPI*)(ScanEngine* object);
using ReadErrorTableFn = ErrorCode(WINAPI*)(const ErrorNameRow** rows, std::uint32_t* count);

// The record's chain: its first count codes, added in order. A count beyond the
// record's capacity is a misbehaving engine; only the record itself is read.
ResultChain RecordChain(const EngineErrorRecord& record);

}  // namespace kv
