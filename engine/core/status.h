// Status codes returned by every engine operation. 0 is success; engine
// errors lie below 10000, the runtime's and graphics' from 10000. Messages and
// identifiers for the codes live in the engine's error table.
#pragma once

enum : int {
  kOk = 0,
  kStackOverflow = 1,
  kDataStackOverflow = 3,
  kVariableOverflow = 5,
  kCodeOverflow = 6,
  kSymbolTableTooLarge = 7,
  kUserError = 10,
  kIllegalError = 12,
  kIncompatibleSize = 20,
  kBadSize = 21,
  kNonMatrixArray = 25,
  kNonSquareMatrix = 26,
  kIndexOutOfRange = 29,
  kUndefinedField = 39,
  kWrongTypeForBool = 42,
  kWrongType = 43,
  kWrongArgType = 44,
  kNonIntegerArg = 102,
  kArgOutOfRange = 103,
  kNonScalarArg = 104,
  kBadArgument = 107,
  kUnknownOption = 108,
  kObjectTooLarge = 109,
  kTooManyInputs = 124,
  kTooFewInputs = 125,
  kTooManyOutputs = 126,
  kUnknownFunction = 201,
  kNullName = 204,
  kNameTooLong = 205,
  kSourceNotFound = 214,
  kFileNotFound = 300,
  kNotMyDescriptor = 301,
  kEndOfFile = 305,
  kBadContext = 400,
  kAssertionFalse = 401,
  kCancel = 402,
  kSecurityViolation = 403,
  kSliceEnded = 500,
  kAborted = 501,
  kWaitRetry = 502,
  kWaitInput = 503,
  kYield = 504,
  kDebugSuspend = 505,
  kInitError = 600,
  kNotSupported = 1000,
};

// Propagates a nonzero status at once.
#define TN_TRY(expr)              \
  do {                            \
    int tn_status_ = (expr);      \
    if (tn_status_ != 0) return tn_status_; \
  } while (0)
