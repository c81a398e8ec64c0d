// The instruction set: opcode numbers, the per-opcode description table
// (operand layout, stack effect, side-effect flag), the intrinsic table that
// binds core built-in names to opcodes, and the readers of both. The tables
// are static data; opcode_table_selfcheck proves them consistent at start-up.
#pragma once

#include <cstdint>
#include <span>

#include "engine/core/context.h"

// Code is an array of unsigned 16-bit words. An instruction is an opcode word
// and its operand words; operands are signed 16-bit unless the operand kind
// says otherwise. Opcodes from kFirstLibraryOpcode call row (opcode - 327) of
// the registered built-in tables and always carry nargin and nargout.
constexpr int kEngineOpcodeCount = 327;
constexpr uint16_t kFirstLibraryOpcode = 327;
constexpr int kLibraryCallWords = 3;

enum : uint16_t {
  kOpNop = 0, kOpPushZero = 1, kOpPushOne = 2, kOpI = 3, kOpPi = 4, kOpGoldenratio = 5, kOpInf = 6,
  kOpNan = 7, kOpRealmin = 8, kOpRealmax = 9, kOpEps = 10, kOpTrue = 11, kOpFalse = 12,
  kOpPushInt16 = 13, kOpPushImagInt16 = 14, kOpPushDouble = 15, kOpPushImagDouble = 16,
  kOpPushSingle = 17, kOpPushImagSingle = 18, kOpPushSmallInt8 = 19, kOpPushSmallInt16 = 20,
  kOpPushSmallInt32 = 21, kOpPushSmallUint8 = 22, kOpPushSmallUint16 = 23, kOpPushSmallUint32 = 24,
  kOpPushInt32 = 25, kOpPushUint32 = 26, kOpPushSmallInt64 = 27, kOpPushSmallUint64 = 28,
  kOpPushInt64 = 29, kOpPushUint64 = 30, kOpPushRange16 = 31, kOpPushString8 = 32,
  kOpPushString16 = 33, kOpPushNoValue = 34, kOpWriteString8 = 35, kOpWriteString16 = 36,
  kOpPopItem = 37, kOpDupItems = 38, kOpMoveItem = 39, kOpDisp = 40, kOpFormat = 41,
  kOpSprintf = 42, kOpFprintf = 43, kOpSscanf = 44, kOpFscanf = 45, kOpFgetl = 46, kOpFgets = 47,
  kOpFread = 48, kOpSread = 49, kOpFwrite = 50, kOpSwrite = 51, kOpBwrite = 52, kOpFclose = 53,
  kOpRedirect = 54, kOpFflush = 55, kOpFseek = 56, kOpFtell = 57, kOpFeof = 58, kOpClc = 59,
  kOpPushEmpty = 60, kOpHorzcat = 61, kOpVertcat = 62, kOpCat = 63, kOpMakeList = 64,
  kOpListAppend = 65, kOpListFlatten = 66, kOpJoin = 67, kOpCell = 68, kOpNdims = 69, kOpSize = 70,
  kOpLength = 71, kOpNumel = 72, kOpReshape = 73, kOpSqueeze = 74, kOpPermute = 75,
  kOpIpermute = 76, kOpZeros = 77, kOpOnes = 78, kOpEye = 79, kOpRand = 80, kOpRandn = 81,
  kOpMagic = 82, kOpColon = 83, kOpSub2ind = 84, kOpInd2sub = 85, kOpDeclareGlobal = 86,
  kOpClear = 87, kOpLoadLocal = 88, kOpSubsref = 89, kOpStoreLocal = 90, kOpSubsasgn = 91,
  kOpDisplayLocal = 92, kOpStoreAnsDisplay = 93, kOpDisplayNamed = 94, kOpIncLocal = 95,
  kOpDecLocal = 96, kOpClearLocal = 97, kOpRefField = 98, kOpRefDynfield = 99, kOpIndexRead = 100,
  kOpRefElement = 101, kOpIndexBeginning = 102, kOpIndexEnd = 103, kOpIndexMatrixrow = 104,
  kOpIndexMatrixcol = 105, kOpPushRef = 106, kOpPushRefTarget = 107, kOpDeref = 108,
  kOpIndexRefRead = 109, kOpRefAssign = 110, kOpIndexAssign = 111, kOpNargin = 112,
  kOpNargout = 113, kOpDeal = 114, kOpVariables = 115, kOpUplus = 116, kOpUminus = 117,
  kOpConj = 118, kOpComplex = 119, kOpReal = 120, kOpImag = 121, kOpAbs = 122, kOpAngle = 123,
  kOpSign = 124, kOpCtranspose = 125, kOpTranspose = 126, kOpFliplr = 127, kOpFlipud = 128,
  kOpFlipdim = 129, kOpRot90 = 130, kOpSort = 131, kOpUnique = 132, kOpUnion = 133,
  kOpIntersect = 134, kOpSetdiff = 135, kOpSetxor = 136, kOpIsmember = 137, kOpFix = 138,
  kOpFloor = 139, kOpCeil = 140, kOpRound = 141, kOpExp = 142, kOpExpm1 = 143, kOpLog = 144,
  kOpLog10 = 145, kOpLog1p = 146, kOpLog2 = 147, kOpReallog = 148, kOpSin = 149, kOpCos = 150,
  kOpTan = 151, kOpSec = 152, kOpCsc = 153, kOpCot = 154, kOpSinh = 155, kOpCosh = 156,
  kOpTanh = 157, kOpSech = 158, kOpCsch = 159, kOpCoth = 160, kOpAsin = 161, kOpAcos = 162,
  kOpAtan = 163, kOpAsec = 164, kOpAcsc = 165, kOpAcot = 166, kOpAtan2 = 167, kOpAsinh = 168,
  kOpAcosh = 169, kOpAtanh = 170, kOpAsech = 171, kOpAcsch = 172, kOpAcoth = 173, kOpSinc = 174,
  kOpSqrt = 175, kOpRealsqrt = 176, kOpDet = 177, kOpSum = 178, kOpProd = 179, kOpMean = 180,
  kOpVar = 181, kOpStd = 182, kOpMoment = 183, kOpSkewness = 184, kOpKurtosis = 185, kOpCov = 186,
  kOpCumsum = 187, kOpCumprod = 188, kOpDiag = 189, kOpTril = 190, kOpTriu = 191, kOpRepmat = 192,
  kOpNdgrid = 193, kOpMeshgrid = 194, kOpTrace = 195, kOpDiff = 196, kOpKron = 197,
  kOpIschar = 198, kOpSetstr = 199, kOpChar = 200, kOpDouble = 201, kOpSingle = 202, kOpInt8 = 203,
  kOpInt16 = 204, kOpInt32 = 205, kOpUint8 = 206, kOpUint16 = 207, kOpUint32 = 208, kOpInt64 = 209,
  kOpUint64 = 210, kOpIsnumeric = 211, kOpIsfloat = 212, kOpIsinteger = 213, kOpIsscalar = 214,
  kOpIsvector = 215, kOpSwapbytes = 216, kOpCast = 217, kOpTypecast = 218, kOpIsletter = 219,
  kOpIsdigit = 220, kOpIsspace = 221, kOpUpper = 222, kOpLower = 223, kOpStrcmp = 224,
  kOpStrcmpi = 225, kOpFindstr = 226, kOpStrmatch = 227, kOpDeblank = 228, kOpStrtrim = 229,
  kOpStrtok = 230, kOpPlus = 231, kOpMinus = 232, kOpMtimes = 233, kOpMrdivide = 234,
  kOpMldivide = 235, kOpTimes = 236, kOpRdivide = 237, kOpLdivide = 238, kOpRem = 239,
  kOpMod = 240, kOpConv = 241, kOpConv2 = 242, kOpDeconv = 243, kOpFilter = 244, kOpAddpol = 245,
  kOpMpower = 246, kOpPower = 247, kOpRealpow = 248, kOpInv = 249, kOpEq = 250, kOpNe = 251,
  kOpSame = 252, kOpUnsame = 253, kOpLt = 254, kOpGt = 255, kOpLe = 256, kOpGe = 257, kOpAnd = 258,
  kOpOr = 259, kOpXor = 260, kOpNot = 261, kOpAny = 262, kOpAll = 263, kOpMin = 264, kOpMax = 265,
  kOpCross = 266, kOpDot = 267, kOpFind = 268, kOpNnz = 269, kOpIsempty = 270, kOpIslogical = 271,
  kOpLogical = 272, kOpIsfinite = 273, kOpIsinf = 274, kOpIsnan = 275, kOpExist = 276,
  kOpNum2list = 277, kOpNum2cell = 278, kOpList2num = 279, kOpIslist = 280, kOpIscell = 281,
  kOpReplist = 282, kOpStruct = 283, kOpIsstruct = 284, kOpIsfield = 285, kOpGetfield = 286,
  kOpSetfield = 287, kOpRmfield = 288, kOpFieldnames = 289, kOpOrderfields = 290, kOpClass = 291,
  kOpIsobject = 292, kOpIsa = 293, kOpMethods = 294, kOpEval = 295, kOpFeval = 296,
  kOpBuiltin = 297, kOpInline = 298, kOpStr2fun = 299, kOpFun2str = 300, kOpJump = 301,
  kOpJumpIfTrue = 302, kOpJumpIfFalse = 303, kOpSkip = 304, kOpCaseTest = 305, kOpForNext = 306,
  kOpForRangeNext = 307, kOpRangePack = 308, kOpRangeFinal = 309, kOpOrElse = 310,
  kOpAndThen = 311, kOpCallUser = 312, kOpPositionWide = 313, kOpCallNamed = 314,
  kOpRetFunction = 315, kOpHalt = 316, kOpError = 317, kOpWarning = 318, kOpRethrow = 319,
  kOpLasterr = 320, kOpLasterror = 321, kOpTryHandler = 322, kOpPosition = 323, kOpInfo = 324,
  kOpAssert = 325, kOpTaskEnd = 326,
};

// Line records. `position` {source id, line} holds a line of 0..32767 (its
// operand is read signed); `position_wide` {source id, line low 16 bits,
// line high 16 bits} takes its place for any other line. The compiler emits
// the wide form only where the short one cannot hold the line, so code
// without such lines is as it always was.
constexpr int kPositionWords = 3;
constexpr int kPositionWideWords = 4;
constexpr int32_t kPositionLineMax = INT16_MAX;
inline bool is_position_op(uint16_t op) { return op == kOpPosition || op == kOpPositionWide; }
// The line of the position instruction at insn.
inline int32_t position_line(const uint16_t* insn) {
  return insn[0] == kOpPositionWide ? int32_t(uint32_t(insn[2]) | uint32_t(insn[3]) << 16) : int16_t(insn[2]);
}

// Operand kinds of an opcode's row.
enum : int32_t {
  kOperandNone = 0,
  kOperandWords = 1,     // `count` 16-bit words
  kOperandInt32 = 3,     // `count` 32-bit values, low word first
  kOperandInt64 = 4,     // `count` 64-bit values, low word first
  kOperandDouble = 5,    // `count` doubles; the first operand word 8-byte aligned
  kOperandString8 = 6,   // length word n, then n bytes two per word (low byte first)
  kOperandString16 = 7,  // length word n, then n 16-bit characters
};

// Stack effect: (inputs << 4) | outputs; a nibble of kEffectFromOperand takes
// the count from an operand word (nargin first, then nargout).
constexpr int32_t kEffectIrregular = -2;
constexpr int32_t kEffectFromOperand = 15;

// Flag bit 0: the instruction does nothing but produce its results, so a
// statement made only of such instructions may be dropped.
constexpr int32_t kOpPure = 1;

// One row of the opcode description table; five 32-bit fields in this order
// are the form the self-check and the readers assume.
struct OpcodeInfo {
  int32_t opcode;  // equals the row index
  int32_t kind;
  int32_t count;   // operand values; 1 for strings, 0 for kOperandNone
  int32_t effect;
  int32_t flags;
};
static_assert(sizeof(OpcodeInfo) == 20);

extern const OpcodeInfo kOpcodeInfoTable[kEngineOpcodeCount];

// One row of the intrinsic table. A table ends with a row whose opcode is
// kIntrinsicEndOpcode and whose name is empty; lookups scan from the first
// row and the first match wins (so "i" is opcode 3's name, "j" an alias).
struct IntrinsicEntry {
  uint32_t opcode;
  uint32_t in_args;
  uint32_t out_args;
  char name[12];  // zero-terminated
};
static_assert(sizeof(IntrinsicEntry) == 24);

constexpr int kIntrinsicCount = 254;
constexpr uint32_t kIntrinsicEndOpcode = 0xFFFF;
extern const IntrinsicEntry kIntrinsicTable[kIntrinsicCount + 1];

// Argument-count words. Bit 15 clear: the word is the exact count. Bit 15
// set: minimum in bits 0-6; all of bits 7-15 set means no maximum, otherwise
// the maximum is bits 7-13. An instruction carries one operand word per
// variable count word: nargin first, then nargout.
constexpr uint32_t kArgcVariable = 0x8000;
constexpr uint32_t kArgcUnboundedMask = 0xFF80;
constexpr int kArgcNoMaximum = -1;

constexpr bool argc_is_variable(uint32_t w) { return (w & kArgcVariable) != 0; }
constexpr int argc_min(uint32_t w) { return argc_is_variable(w) ? int(w & 0x7F) : int(w); }
constexpr int argc_max(uint32_t w) {
  if (!argc_is_variable(w)) return int(w);
  if ((w & kArgcUnboundedMask) == kArgcUnboundedMask) return kArgcNoMaximum;
  return int((w >> 7) & 0x7F);
}
constexpr bool argc_admits(uint32_t w, int n) {
  return n >= argc_min(w) && (argc_max(w) == kArgcNoMaximum || n <= argc_max(w));
}
constexpr uint32_t argc_fixed(int n) { return uint32_t(n); }
constexpr uint32_t argc_range(int lo, int hi) { return kArgcVariable | uint32_t(hi) << 7 | uint32_t(lo); }
constexpr uint32_t argc_at_least(int lo) { return kArgcUnboundedMask | uint32_t(lo); }

// The description row of an engine opcode, null for library and unknown ones.
inline const OpcodeInfo* opcode_info(uint32_t opcode) {
  return opcode < uint32_t(kEngineOpcodeCount) ? &kOpcodeInfoTable[opcode] : nullptr;
}

// Jump operands count words from an origin past the opcode: the word after
// the operand for the jumps, the word after the whole instruction for the try
// handler. Returns that distance in words from the opcode, 0 for non-jumps.
constexpr int jump_origin_words(uint32_t opcode) {
  switch (opcode) {
    case kOpJump: case kOpJumpIfTrue: case kOpJumpIfFalse: case kOpCaseTest:
    case kOpForNext: case kOpForRangeNext: case kOpOrElse: case kOpAndThen:
      return 2;
    case kOpTryHandler:
      return 3;
    default:
      return 0;
  }
}

// Words of the instruction at code, operands included. The caller guarantees
// that the opcode and, for strings, the length word lie inside the code.
int insn_length(const uint16_t* code);

// Inputs and outputs of the instruction at code; 107 for an opcode without a
// plain effect. Counts read from operand words are signed. Either out-pointer
// may be null.
int insn_stack_effect(const uint16_t* code, int* nin, int* nout);

// Name of an opcode into a 32-byte buffer, zero-filled: the first intrinsic
// row of that opcode, the library row for opcodes from 327 (ctx may be null:
// no library rows), else empty. With operator_form set, an operator's function
// name gives its token instead ("plus" -> "+"). Returns 32 when the name
// filled the buffer, else 0.
constexpr int kOpNameBytes = 32;
int core_builtin_name(EngineContext* ctx, uint32_t opcode, int operator_form, char* buf);

// The k-th name that "info" lists: intrinsics first (section "ZVR"), then the
// callable library rows (names starting with a letter or "_"); marker rows met
// on the way set *section to the text after "@" or "!" and *is_group to true
// for "!". With operator_form set: the token of the k-th operator row. Null
// past the end. ctx may be null; section and is_group may be null.
const char* intrinsic_name_by_index(EngineContext* ctx, int k, int operator_form,
                                    const char** section, bool* is_group);

// The first intrinsic row with this name, or null.
const IntrinsicEntry* intrinsic_find(const char* name);
// The first intrinsic row of this opcode, or null.
const IntrinsicEntry* intrinsic_by_opcode(uint32_t opcode);

// Keywords in their fixed order: null gives the first, a keyword (compared by
// identity) the one after it, the last gives null.
constexpr int kKeywordCount = 27;
const char* keyword_next(const char* keyword);

// Checks the description table and the intrinsic table against each other:
// kOk, or kInitError at the first inconsistency. The form with arguments
// checks the given tables (the intrinsic span must hold the end row).
int opcode_table_selfcheck();
int opcode_table_selfcheck(std::span<const OpcodeInfo> info, std::span<const IntrinsicEntry> intrinsics);
