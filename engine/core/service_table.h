// The engine's service table: the ordered list of entry points through which
// built-in libraries reach the engine. The slot order is fixed; a library that
// was built against one engine finds every operation at the same slot.
#pragma once

#include "engine/core/context.h"

using ServiceFn = void (*)();

constexpr int kServiceSlots = 110;

struct EngineServiceTable {
  ServiceFn slot[kServiceSlots];
};

// Slot numbers of the operations that callers look up by number.
enum ServiceSlot : int {
  kSvcVersionString = 0,
  kSvcFnFindByName = 1,
  kSvcFnCallFunarg = 2,
  kSvcLibFindBuiltin = 3,
  kSvcLibEntryByIndex = 4,
  kSvcFnCall = 6,
  kSvcExecCodeBlock = 7,
  kSvcExecCheckHaltOpcode = 8,
  kSvcFrameReturnDiscard = 9,
  kSvcErrStateClear = 10,
  kSvcErrRaiseId = 12,
  kSvcInterpInFunction = 13,
  kSvcPollAbort = 14,
  kSvcStkDepth = 15,
  kSvcFrameUnwind = 16,
  kSvcErrGetPosition = 17,
  kSvcErrSetPosition = 18,
  kSvcStkArgcheck = 19,
  kSvcStkPushReal = 20,
  kSvcStkPushNoValue = 26,
  kSvcStkPushMatrix = 29,
  kSvcStkGetMatrix = 43,
  kSvcStkConvertToDouble = 56,
  kSvcStkConvertToInt = 57,
  kSvcStkPushCstr = 58,
  kSvcStkRemove = 73,
  kSvcStkTranspose = 77,
  kSvcOptMakeStruct = 91,
  kSvcOptReadStruct = 92,
  kSvcStkPopScalarOrDefault = 93,
  kSvcOptGetNumber = 94,
  kSvcOptGetBool = 95,
  kSvcIoWrite = 96,
  kSvcIoPrintf = 97,
  kSvcIoNewline = 98,
  kSvcIoSetBuffering = 99,
  kSvcIoControl = 100,
  kSvcIoRead = 101,
  kSvcFdAlloc = 102,
  kSvcStkPushObject = 103,
  kSvcLibCallByName = 105,
  kSvcFindNamedBlock = 106,
  kSvcGetEventPoster = 107,
  kSvcStkExportSize = 108,
  kSvcStkExportItems = 109,
};

// The table every context points to.
extern const EngineServiceTable kEngineServices;

// Typed access to a slot: svc_call<decltype(&stk_push_real)>(ctx, kSvcStkPushReal)(ctx, 1.0).
template <typename Fn>
inline Fn svc_fn(const EngineContext* ctx, int slot) {
  return reinterpret_cast<Fn>(ctx->svc->slot[slot]);
}
