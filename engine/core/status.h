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
  kBadDimension = 34,
  kUndefinedField = 39,
  kWrongTypeForBool = 42,
  kWrongType = 43,
  kWrongArgType = 44,
  kNonIntegerArg = 102,
  kArgOutOfRange = 103,
  kNonScalarArg = 104,
  kNonObjectArgument = 105,
  kNotPermutation = 106,
  kBadArgument = 107,
  kUnknownOption = 108,
  kObjectTooLarge = 109,
  kUndefinedFunction = 121,
  kUndefinedFunctionOrVariable = 122,
  kTooManyInputs = 124,
  kTooFewInputs = 125,
  kTooManyOutputs = 126,
  kTooFewOutputs = 127,
  kMissingFunctionName = 151,
  kBadFunctionHeader = 152,
  kBadDefinition = 153,
  kBadLibraryName = 157,
  kIncludeNotPermitted = 158,
  kVariableTableOverflow = 182,
  kWrongNargin = 186,
  kWrongNargout = 187,
  kTooManyUserFunctions = 198,
  kFunctionRedefined = 199,
  kFunctionNotFound = 200,
  kUnknownFunction = 201,
  kNullName = 204,
  kNameTooLong = 205,
  kUnexpectedEndfunction = 209,
  kFunctionHeaderExpected = 211,
  kSourceNotFound = 214,
  kLibraryNotFound = 215,
  kIncludeSyntax = 216,
  kIncludeDepth = 217,
  kFileNotFound = 300,
  kNotMyDescriptor = 301,
  kReadWriteError = 302,
  kEndOfFile = 305,
  kUnknownCharset = 307,
  kBadContext = 400,
  kAssertionFalse = 401,
  kCancel = 402,
  kSecurityViolation = 403,
  kSecurityViolationVariable = 404,
  kSliceEnded = 500,
  kAborted = 501,
  kWaitRetry = 502,
  kWaitInput = 503,
  kYield = 504,
  kDebugSuspend = 505,
  kInitError = 600,
  kNotSupported = 1000,
};

// Compilation errors: each ends the compilation at once; the error table
// holds their messages.
enum : int {
  kSyntaxError = 150,
  kMisplacedVarargin = 154,
  kMisplacedVarargout = 155,
  kPersistentOutsideFunction = 156,
  kMissingExpression = 159,
  kUnexpectedExpression = 160,
  kIncompleteExpression = 161,
  kBadForAssignment = 162,
  kBadVariableName = 163,
  kUnterminatedString = 164,
  kUnknownEscape = 165,
  kUnexpectedComma = 166,
  kUnexpectedSemicolon = 167,
  kUnexpectedRightParen = 168,
  kUnexpectedRightBracket = 169,
  kUnexpectedRightBrace = 170,
  kUnexpectedColon = 171,
  kMisplacedListFlattening = 172,
  kUnsupportedIntegerSize = 173,
  kUnrecognizedToken = 174,
  kMisplacedEnd = 175,
  kMisplacedBeginning = 176,
  kMisplacedMatrixrow = 177,
  kMisplacedMatrixcol = 178,
  kWrongIndexWord = 179,
  kCompilationOverflow = 180,
  kTooManySubexpressions = 181,
  kExpressionTooLarge = 183,
  kTooManyNestedBrackets = 184,
  kTooManyNestedBlocks = 185,
  kUnboundedConstruct = 190,
  kUnexpectedEnd = 191,
  kUnexpectedElse = 192,
  kUnexpectedCase = 193,
  kUnexpectedCatch = 194,
  kUnexpectedBreak = 195,
  kUnexpectedUntil = 196,
  kReusedVariableName = 197,
  kUnexpectedExprEnd = 202,
  kBadFunctionReference = 206,
  kBadAnonymousFunction = 207,
  kUnexpectedFunctionHeader = 208,
  kUnexpectedDefinition = 210,
  kBadAssignmentTarget = 212,
  kBadForVariable = 213,
};

// Indexing, assignment and variables.
enum : int {
  kStackOverflowVar = 2,
  kDataStackOverflowVar = 4,
  kBadIndexType = 27,
  kNonIntegerIndex = 28,
  kDeleteMultipleDims = 30,
  kBadListIndex = 31,
  kWrongIndexCount = 32,
  kBadSelectionSize = 33,
  kWrongVariableType = 35,
  kFieldOfNonStruct = 37,
  kElementOfNonList = 38,
  kPrivateField = 40,
  kBadAssignmentSize = 41,
  kUndefinedVariable = 120,
  kUndefinedInputArg = 123,
};

// Propagates a nonzero status at once.
#define TN_TRY(expr)              \
  do {                            \
    int tn_status_ = (expr);      \
    if (tn_status_ != 0) return tn_status_; \
  } while (0)

// Invariants. TN_ASSERT(cond) states what must hold where it must hold; it is
// checked in the debug build only (TN_DEBUG_CHECKS, which the sanitizer build
// turns on), where a failure prints the condition and its place and aborts.
// The optimised build compiles it away: plain assert would stay live there.
[[noreturn]] void tn_assert_failed(const char* condition, const char* file, int line);
#ifdef TN_DEBUG_CHECKS
#define TN_ASSERT(cond) ((cond) ? (void)0 : tn_assert_failed(#cond, __FILE__, __LINE__))
#else
#define TN_ASSERT(cond) ((void)0)
#endif

// kIllegalError answers a state that should not arise. It is returned through
// TN_ILLEGAL(), which in the debug build also records the file and line that
// detected it; the error report then names that place after "Illegal error".
int tn_illegal_at(const char* file, int line);
#ifdef TN_DEBUG_CHECKS
#define TN_ILLEGAL() tn_illegal_at(__FILE__, __LINE__)
#else
#define TN_ILLEGAL() int(kIllegalError)
#endif
// The place the last TN_ILLEGAL() recorded (null file when none).
struct IllegalSite {
  const char* file;
  int line;
};
IllegalSite tn_illegal_site();
