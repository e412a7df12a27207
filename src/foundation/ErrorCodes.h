// The family codes that the system's own code raises or tests for, by name.
// Their names live in the name table (ErrorNameTable.cpp) and are looked up through
// ErrorNames.h; add a constant here when code starts to use one.
#pragma once

#include "foundation/ResultChain.h"

namespace kv::err {

// Family bases.
constexpr ErrorCode NmErrorBase = 0x617A0000;
constexpr ErrorCode KestravondalBase = 0x385A0000;
constexpr ErrorCode VirusWatchScanBase = 0x29AA0000;
constexpr ErrorCode AfxThreadBase = 0x304C0000;
constexpr ErrorCode VirusScanBase = 0x32880000;
constexpr ErrorCode PramselBase = 0x354D0000;
constexpr ErrorCode StringTypeBase = 0x6A880000;
constexpr ErrorCode EngineScanBase = 0x7EBF0000;
constexpr ErrorCode InvalidEnumValue = 0x7FFFFFFF;

// NmErrorBase: general-purpose failures.
constexpr ErrorCode AccessDenied = 0x617A0002;
constexpr ErrorCode InvalidArgument = 0x617A0008;
constexpr ErrorCode InvalidArgumentNullPointer = 0x617A0009;
constexpr ErrorCode InvalidFormat = 0x617A0016;
constexpr ErrorCode InvalidParent = 0x617A0018;
constexpr ErrorCode InvalidFolder = 0x617A0029;
constexpr ErrorCode AlreadyOpened = 0x617A002C;
constexpr ErrorCode AlreadyMaked = 0x617A002E;
constexpr ErrorCode NoMoreFile = 0x617A0037;
constexpr ErrorCode DllNotFound = 0x617A0048;
constexpr ErrorCode NotSetPassword = 0x617A0053;
constexpr ErrorCode NotSameHash = 0x617A0054;
constexpr ErrorCode NoMoreDataOrError = 0x617A005F;
constexpr ErrorCode FileNotFound = 0x617A0062;
constexpr ErrorCode FolderNotFound = 0x617A0064;
constexpr ErrorCode FailDeleteFolder = 0x617A0065;
constexpr ErrorCode FailDeleteFile = 0x617A0066;
constexpr ErrorCode InvalidMode = 0x617A0072;
constexpr ErrorCode WriteError = 0x617A0074;
constexpr ErrorCode IndexOverFlow = 0x617A0079;
constexpr ErrorCode SizelimitOver = 0x617A007A;
constexpr ErrorCode CannotOpenFile = 0x617A0080;
constexpr ErrorCode InvalidPath = 0x617A0081;
constexpr ErrorCode CannotCreateFolder = 0x617A0086;
constexpr ErrorCode FailFindNext = 0x617A0084;
constexpr ErrorCode InvalidKey = 0x617A0094;
constexpr ErrorCode InvalidBuffer = 0x617A0097;
constexpr ErrorCode HandleNotEnabled = 0x617A00A7;
constexpr ErrorCode InvalidObject = 0x617A00A8;
constexpr ErrorCode ErrorTmFormat = 0x617A00C2;
constexpr ErrorCode InavlidDllFunction = 0x617A00C6;
constexpr ErrorCode NotSupportVersion = 0x617A00C7;

// AfxThreadBase: results of waiting for a worker thread.
constexpr ErrorCode WaitFinish = 0x304C0001;
constexpr ErrorCode WaitTimeout = 0x304C0002;
constexpr ErrorCode WaitAbandoned = 0x304C0003;
constexpr ErrorCode WaitFailed = 0x304C0004;
constexpr ErrorCode NotSupportError = 0x304C0005;

// VirusScanBase: results of a definition update.
constexpr ErrorCode BreakInterrupt = 0x32880002;
constexpr ErrorCode AlreadyLastestDefinition = 0x32880003;
constexpr ErrorCode FatalUpdateError = 0x32880004;
constexpr ErrorCode InvalidKeyTable = 0x32880005;
constexpr ErrorCode BusyUncUpdating = 0x3288000D;

// EngineScanBase: update steps as a scan-engine library reports them.
constexpr ErrorCode UpdateUncIni = 0x7EBF0034;
constexpr ErrorCode UpdateUncFolder = 0x7EBF0036;
constexpr ErrorCode ErrorSwapFilename = 0x7EBF0044;
constexpr ErrorCode ErrorUncHashCompare = 0x7EBF0053;
constexpr ErrorCode NotSupportUpdateProtocol = 0x7EBF0054;
constexpr ErrorCode UncIniNotFound = 0x7EBF0058;
constexpr ErrorCode UncIniInvalidFormat = 0x7EBF0059;
constexpr ErrorCode UncFileNotFound = 0x7EBF005A;

// VirusWatchScanBase.
constexpr ErrorCode InvalidLogPath = 0x29AA000D;
constexpr ErrorCode ThUpdate = 0x29AA0031;
constexpr ErrorCode ErrorThreadEndFail = 0x29AA004F;

// KestravondalBase: the service's own codes.
constexpr ErrorCode InvalidNextTime = 0x385A0002;
constexpr ErrorCode InvalidInstallPath = 0x385A0025;

// PramselBase: settings keys.
constexpr ErrorCode KeyScanDll = 0x354D0027;

}  // namespace kv::err
