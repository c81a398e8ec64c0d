// The opcode description table and the readers of code words: instruction
// lengths, stack effects, opcode names and keywords, and the self-check that
// proves the description and intrinsic tables agree before the engine starts.
// Effects are written as 0xIO: I inputs, O outputs, F taken from an operand.
#include <cstring>

#include "engine/core/opcodes.h"
#include "engine/core/operator_table.h"

const OpcodeInfo kOpcodeInfoTable[kEngineOpcodeCount] = {
    {kOpNop, kOperandNone, 0, 0x00, kOpPure},
    {kOpPushZero, kOperandNone, 0, 0x01, kOpPure},
    {kOpPushOne, kOperandNone, 0, 0x01, kOpPure},
    {kOpI, kOperandNone, 0, 0x01, kOpPure},
    {kOpPi, kOperandNone, 0, 0x01, kOpPure},
    {kOpGoldenratio, kOperandNone, 0, 0x01, kOpPure},
    {kOpInf, kOperandWords, 1, 0xF1, kOpPure},
    {kOpNan, kOperandWords, 1, 0xF1, kOpPure},
    {kOpRealmin, kOperandWords, 1, 0xF1, kOpPure},
    {kOpRealmax, kOperandWords, 1, 0xF1, kOpPure},
    {kOpEps, kOperandWords, 1, 0xF1, kOpPure},
    {kOpTrue, kOperandWords, 1, 0xF1, kOpPure},
    {kOpFalse, kOperandWords, 1, 0xF1, kOpPure},
    {kOpPushInt16, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpPushImagInt16, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpPushDouble, kOperandDouble, 1, kEffectIrregular, kOpPure},
    {kOpPushImagDouble, kOperandDouble, 1, kEffectIrregular, kOpPure},
    {kOpPushSingle, kOperandDouble, 1, kEffectIrregular, kOpPure},
    {kOpPushImagSingle, kOperandDouble, 1, kEffectIrregular, kOpPure},
    {kOpPushSmallInt8, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpPushSmallInt16, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpPushSmallInt32, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpPushSmallUint8, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpPushSmallUint16, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpPushSmallUint32, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpPushInt32, kOperandInt32, 1, kEffectIrregular, kOpPure},
    {kOpPushUint32, kOperandInt32, 1, kEffectIrregular, kOpPure},
    {kOpPushSmallInt64, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpPushSmallUint64, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpPushInt64, kOperandInt64, 1, kEffectIrregular, kOpPure},
    {kOpPushUint64, kOperandInt64, 1, kEffectIrregular, kOpPure},
    {kOpPushRange16, kOperandWords, 3, kEffectIrregular, kOpPure},
    {kOpPushString8, kOperandString8, 1, kEffectIrregular, kOpPure},
    {kOpPushString16, kOperandString16, 1, kEffectIrregular, kOpPure},
    {kOpPushNoValue, kOperandNone, 0, kEffectIrregular, kOpPure},
    {kOpWriteString8, kOperandString8, 1, kEffectIrregular, 0},
    {kOpWriteString16, kOperandString16, 1, kEffectIrregular, 0},
    {kOpPopItem, kOperandNone, 0, 0x10, kOpPure},
    {kOpDupItems, kOperandWords, 2, 0xFF, kOpPure},
    {kOpMoveItem, kOperandWords, 2, kEffectIrregular, kOpPure},
    {kOpDisp, kOperandNone, 0, 0x10, 0},
    {kOpFormat, kOperandWords, 1, 0xF0, 0},
    {kOpSprintf, kOperandWords, 1, 0xF1, 0},
    {kOpFprintf, kOperandWords, 2, 0xFF, 0},
    {kOpSscanf, kOperandWords, 1, 0x2F, kOpPure},
    {kOpFscanf, kOperandWords, 2, 0xFF, 0},
    {kOpFgetl, kOperandWords, 1, 0xF1, 0},
    {kOpFgets, kOperandWords, 1, 0xF1, 0},
    {kOpFread, kOperandWords, 2, 0xFF, 0},
    {kOpSread, kOperandWords, 2, 0xFF, kOpPure},
    {kOpFwrite, kOperandWords, 1, 0xF1, 0},
    {kOpSwrite, kOperandWords, 1, 0xF1, kOpPure},
    {kOpBwrite, kOperandWords, 1, 0xF1, kOpPure},
    {kOpFclose, kOperandNone, 0, 0x10, 0},
    {kOpRedirect, kOperandWords, 2, 0xFF, 0},
    {kOpFflush, kOperandNone, 0, 0x10, 0},
    {kOpFseek, kOperandWords, 2, 0xFF, 0},
    {kOpFtell, kOperandNone, 0, 0x11, 0},
    {kOpFeof, kOperandNone, 0, 0x11, 0},
    {kOpClc, kOperandWords, 1, 0xF0, 0},
    {kOpPushEmpty, kOperandNone, 0, 0x01, kOpPure},  // pushes one item: its effect says so
    {kOpHorzcat, kOperandNone, 0, 0x21, kOpPure},
    {kOpVertcat, kOperandNone, 0, 0x21, kOpPure},
    {kOpCat, kOperandWords, 1, 0xF1, kOpPure},
    {kOpMakeList, kOperandWords, 1, 0xF1, kOpPure},
    {kOpListAppend, kOperandNone, 0, 0x21, kOpPure},
    {kOpListFlatten, kOperandWords, 1, 0xF1, kOpPure},
    {kOpJoin, kOperandWords, 1, 0xF1, kOpPure},
    {kOpCell, kOperandWords, 1, 0xF1, kOpPure},
    {kOpNdims, kOperandNone, 0, 0x11, kOpPure},
    {kOpSize, kOperandWords, 2, 0xFF, kOpPure},
    {kOpLength, kOperandNone, 0, 0x11, kOpPure},
    {kOpNumel, kOperandNone, 0, 0x11, kOpPure},
    {kOpReshape, kOperandWords, 1, 0xF1, kOpPure},
    {kOpSqueeze, kOperandNone, 0, 0x11, kOpPure},
    {kOpPermute, kOperandNone, 0, 0x21, kOpPure},
    {kOpIpermute, kOperandNone, 0, 0x21, kOpPure},
    {kOpZeros, kOperandWords, 1, 0xF1, kOpPure},
    {kOpOnes, kOperandWords, 1, 0xF1, kOpPure},
    {kOpEye, kOperandWords, 1, 0xF1, kOpPure},
    {kOpRand, kOperandWords, 1, 0xF1, 0},
    {kOpRandn, kOperandWords, 1, 0xF1, 0},
    {kOpMagic, kOperandNone, 0, 0x11, kOpPure},
    {kOpColon, kOperandWords, 1, 0xF1, kOpPure},
    {kOpSub2ind, kOperandWords, 1, 0xF1, kOpPure},
    {kOpInd2sub, kOperandWords, 1, 0x2F, kOpPure},
    {kOpDeclareGlobal, kOperandWords, 2, kEffectIrregular, 0},
    {kOpClear, kOperandWords, 1, 0xF0, 0},
    {kOpLoadLocal, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpSubsref, kOperandNone, 0, 0x21, kOpPure},
    {kOpStoreLocal, kOperandWords, 1, kEffectIrregular, 0},
    {kOpSubsasgn, kOperandNone, 0, 0x31, kOpPure},
    {kOpDisplayLocal, kOperandWords, 1, kEffectIrregular, 0},
    {kOpStoreAnsDisplay, kOperandWords, 1, kEffectIrregular, 0},
    {kOpDisplayNamed, kOperandWords, 1, kEffectIrregular, 0},
    {kOpIncLocal, kOperandWords, 1, kEffectIrregular, 0},
    {kOpDecLocal, kOperandWords, 1, kEffectIrregular, 0},
    {kOpClearLocal, kOperandWords, 1, kEffectIrregular, 0},
    {kOpRefField, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpRefDynfield, kOperandNone, 0, 0x21, kOpPure},
    {kOpIndexRead, kOperandWords, 2, kEffectIrregular, kOpPure},
    {kOpRefElement, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpIndexBeginning, kOperandWords, 3, kEffectIrregular, kOpPure},
    {kOpIndexEnd, kOperandWords, 3, kEffectIrregular, kOpPure},
    {kOpIndexMatrixrow, kOperandWords, 3, kEffectIrregular, kOpPure},
    {kOpIndexMatrixcol, kOperandWords, 3, kEffectIrregular, kOpPure},
    {kOpPushRef, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpPushRefTarget, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpDeref, kOperandNone, 0, kEffectIrregular, kOpPure},
    {kOpIndexRefRead, kOperandWords, 2, kEffectIrregular, kOpPure},
    {kOpRefAssign, kOperandNone, 0, kEffectIrregular, 0},
    {kOpIndexAssign, kOperandWords, 2, kEffectIrregular, 0},
    {kOpNargin, kOperandWords, 1, 0xF1, kOpPure},
    {kOpNargout, kOperandWords, 1, 0xF1, kOpPure},
    {kOpDeal, kOperandWords, 2, 0xFF, kOpPure},
    {kOpVariables, kOperandNone, 0, 0x01, kOpPure},
    {kOpUplus, kOperandNone, 0, 0x11, kOpPure},
    {kOpUminus, kOperandNone, 0, 0x11, kOpPure},
    {kOpConj, kOperandNone, 0, 0x11, kOpPure},
    {kOpComplex, kOperandNone, 0, 0x21, kOpPure},
    {kOpReal, kOperandNone, 0, 0x11, kOpPure},
    {kOpImag, kOperandNone, 0, 0x11, kOpPure},
    {kOpAbs, kOperandNone, 0, 0x11, kOpPure},
    {kOpAngle, kOperandNone, 0, 0x11, kOpPure},
    {kOpSign, kOperandNone, 0, 0x11, kOpPure},
    {kOpCtranspose, kOperandNone, 0, 0x11, kOpPure},
    {kOpTranspose, kOperandNone, 0, 0x11, kOpPure},
    {kOpFliplr, kOperandNone, 0, 0x11, kOpPure},
    {kOpFlipud, kOperandNone, 0, 0x11, kOpPure},
    {kOpFlipdim, kOperandNone, 0, 0x21, kOpPure},
    {kOpRot90, kOperandWords, 1, 0xF1, kOpPure},
    {kOpSort, kOperandWords, 2, 0xFF, kOpPure},
    {kOpUnique, kOperandWords, 1, 0x1F, kOpPure},
    {kOpUnion, kOperandWords, 1, 0x2F, kOpPure},
    {kOpIntersect, kOperandWords, 1, 0x2F, kOpPure},
    {kOpSetdiff, kOperandWords, 1, 0x2F, kOpPure},
    {kOpSetxor, kOperandWords, 1, 0x2F, kOpPure},
    {kOpIsmember, kOperandNone, 0, 0x21, kOpPure},
    {kOpFix, kOperandNone, 0, 0x11, kOpPure},
    {kOpFloor, kOperandNone, 0, 0x11, kOpPure},
    {kOpCeil, kOperandNone, 0, 0x11, kOpPure},
    {kOpRound, kOperandNone, 0, 0x11, kOpPure},
    {kOpExp, kOperandNone, 0, 0x11, kOpPure},
    {kOpExpm1, kOperandNone, 0, 0x11, kOpPure},
    {kOpLog, kOperandNone, 0, 0x11, kOpPure},
    {kOpLog10, kOperandNone, 0, 0x11, kOpPure},
    {kOpLog1p, kOperandNone, 0, 0x11, kOpPure},
    {kOpLog2, kOperandNone, 0, 0x11, kOpPure},
    {kOpReallog, kOperandNone, 0, 0x11, kOpPure},
    {kOpSin, kOperandNone, 0, 0x11, kOpPure},
    {kOpCos, kOperandNone, 0, 0x11, kOpPure},
    {kOpTan, kOperandNone, 0, 0x11, kOpPure},
    {kOpSec, kOperandNone, 0, 0x11, kOpPure},
    {kOpCsc, kOperandNone, 0, 0x11, kOpPure},
    {kOpCot, kOperandNone, 0, 0x11, kOpPure},
    {kOpSinh, kOperandNone, 0, 0x11, kOpPure},
    {kOpCosh, kOperandNone, 0, 0x11, kOpPure},
    {kOpTanh, kOperandNone, 0, 0x11, kOpPure},
    {kOpSech, kOperandNone, 0, 0x11, kOpPure},
    {kOpCsch, kOperandNone, 0, 0x11, kOpPure},
    {kOpCoth, kOperandNone, 0, 0x11, kOpPure},
    {kOpAsin, kOperandNone, 0, 0x11, kOpPure},
    {kOpAcos, kOperandNone, 0, 0x11, kOpPure},
    {kOpAtan, kOperandNone, 0, 0x11, kOpPure},
    {kOpAsec, kOperandNone, 0, 0x11, kOpPure},
    {kOpAcsc, kOperandNone, 0, 0x11, kOpPure},
    {kOpAcot, kOperandNone, 0, 0x11, kOpPure},
    {kOpAtan2, kOperandNone, 0, 0x21, kOpPure},
    {kOpAsinh, kOperandNone, 0, 0x11, kOpPure},
    {kOpAcosh, kOperandNone, 0, 0x11, kOpPure},
    {kOpAtanh, kOperandNone, 0, 0x11, kOpPure},
    {kOpAsech, kOperandNone, 0, 0x11, kOpPure},
    {kOpAcsch, kOperandNone, 0, 0x11, kOpPure},
    {kOpAcoth, kOperandNone, 0, 0x11, kOpPure},
    {kOpSinc, kOperandNone, 0, 0x11, kOpPure},
    {kOpSqrt, kOperandNone, 0, 0x11, kOpPure},
    {kOpRealsqrt, kOperandNone, 0, 0x11, kOpPure},
    {kOpDet, kOperandNone, 0, 0x11, kOpPure},
    {kOpSum, kOperandWords, 1, 0xF1, kOpPure},
    {kOpProd, kOperandWords, 1, 0xF1, kOpPure},
    {kOpMean, kOperandWords, 1, 0xF1, kOpPure},
    {kOpVar, kOperandWords, 1, 0xF1, kOpPure},
    {kOpStd, kOperandWords, 1, 0xF1, kOpPure},
    {kOpMoment, kOperandWords, 1, 0xF1, kOpPure},
    {kOpSkewness, kOperandWords, 1, 0xF1, kOpPure},
    {kOpKurtosis, kOperandWords, 1, 0xF1, kOpPure},
    {kOpCov, kOperandWords, 1, 0xF1, kOpPure},
    {kOpCumsum, kOperandWords, 1, 0xF1, kOpPure},
    {kOpCumprod, kOperandWords, 1, 0xF1, kOpPure},
    {kOpDiag, kOperandWords, 1, 0xF1, kOpPure},
    {kOpTril, kOperandWords, 1, 0xF1, kOpPure},
    {kOpTriu, kOperandWords, 1, 0xF1, kOpPure},
    {kOpRepmat, kOperandWords, 1, 0xF1, kOpPure},
    {kOpNdgrid, kOperandWords, 2, 0xFF, kOpPure},
    {kOpMeshgrid, kOperandWords, 2, 0xFF, kOpPure},
    {kOpTrace, kOperandNone, 0, 0x11, kOpPure},
    {kOpDiff, kOperandWords, 1, 0xF1, kOpPure},
    {kOpKron, kOperandNone, 0, 0x21, kOpPure},
    {kOpIschar, kOperandNone, 0, 0x11, kOpPure},
    {kOpSetstr, kOperandNone, 0, 0x11, kOpPure},
    {kOpChar, kOperandWords, 1, 0xF1, kOpPure},
    {kOpDouble, kOperandNone, 0, 0x11, kOpPure},
    {kOpSingle, kOperandNone, 0, 0x11, kOpPure},
    {kOpInt8, kOperandNone, 0, 0x11, kOpPure},
    {kOpInt16, kOperandNone, 0, 0x11, kOpPure},
    {kOpInt32, kOperandNone, 0, 0x11, kOpPure},
    {kOpUint8, kOperandNone, 0, 0x11, kOpPure},
    {kOpUint16, kOperandNone, 0, 0x11, kOpPure},
    {kOpUint32, kOperandNone, 0, 0x11, kOpPure},
    {kOpInt64, kOperandNone, 0, 0x11, kOpPure},
    {kOpUint64, kOperandNone, 0, 0x11, kOpPure},
    {kOpIsnumeric, kOperandNone, 0, 0x11, kOpPure},
    {kOpIsfloat, kOperandNone, 0, 0x11, kOpPure},
    {kOpIsinteger, kOperandNone, 0, 0x11, kOpPure},
    {kOpIsscalar, kOperandNone, 0, 0x11, kOpPure},
    {kOpIsvector, kOperandNone, 0, 0x11, kOpPure},
    {kOpSwapbytes, kOperandNone, 0, 0x11, kOpPure},
    {kOpCast, kOperandNone, 0, 0x21, kOpPure},
    {kOpTypecast, kOperandNone, 0, 0x21, kOpPure},
    {kOpIsletter, kOperandNone, 0, 0x11, kOpPure},
    {kOpIsdigit, kOperandNone, 0, 0x11, kOpPure},
    {kOpIsspace, kOperandNone, 0, 0x11, kOpPure},
    {kOpUpper, kOperandNone, 0, 0x11, kOpPure},
    {kOpLower, kOperandNone, 0, 0x11, kOpPure},
    {kOpStrcmp, kOperandWords, 1, 0xF1, kOpPure},
    {kOpStrcmpi, kOperandWords, 1, 0xF1, kOpPure},
    {kOpFindstr, kOperandNone, 0, 0x21, kOpPure},
    {kOpStrmatch, kOperandWords, 1, 0xF1, kOpPure},
    {kOpDeblank, kOperandNone, 0, 0x11, kOpPure},
    {kOpStrtrim, kOperandNone, 0, 0x11, kOpPure},
    {kOpStrtok, kOperandWords, 2, 0xFF, kOpPure},
    {kOpPlus, kOperandNone, 0, 0x21, kOpPure},
    {kOpMinus, kOperandNone, 0, 0x21, kOpPure},
    {kOpMtimes, kOperandNone, 0, 0x21, kOpPure},
    {kOpMrdivide, kOperandNone, 0, 0x21, kOpPure},
    {kOpMldivide, kOperandNone, 0, 0x21, kOpPure},
    {kOpTimes, kOperandNone, 0, 0x21, kOpPure},
    {kOpRdivide, kOperandNone, 0, 0x21, kOpPure},
    {kOpLdivide, kOperandNone, 0, 0x21, kOpPure},
    {kOpRem, kOperandNone, 0, 0x21, kOpPure},
    {kOpMod, kOperandNone, 0, 0x21, kOpPure},
    {kOpConv, kOperandWords, 1, 0xF1, kOpPure},
    {kOpConv2, kOperandWords, 1, 0xF1, kOpPure},
    {kOpDeconv, kOperandWords, 1, 0x2F, kOpPure},
    {kOpFilter, kOperandWords, 2, 0xFF, kOpPure},
    {kOpAddpol, kOperandNone, 0, 0x21, kOpPure},
    {kOpMpower, kOperandNone, 0, 0x21, kOpPure},
    {kOpPower, kOperandNone, 0, 0x21, kOpPure},
    {kOpRealpow, kOperandNone, 0, 0x21, kOpPure},
    {kOpInv, kOperandNone, 0, 0x11, kOpPure},
    {kOpEq, kOperandNone, 0, 0x21, kOpPure},
    {kOpNe, kOperandNone, 0, 0x21, kOpPure},
    {kOpSame, kOperandNone, 0, 0x21, kOpPure},
    {kOpUnsame, kOperandNone, 0, 0x21, kOpPure},
    {kOpLt, kOperandNone, 0, 0x21, kOpPure},
    {kOpGt, kOperandNone, 0, 0x21, kOpPure},
    {kOpLe, kOperandNone, 0, 0x21, kOpPure},
    {kOpGe, kOperandNone, 0, 0x21, kOpPure},
    {kOpAnd, kOperandNone, 0, 0x21, kOpPure},
    {kOpOr, kOperandNone, 0, 0x21, kOpPure},
    {kOpXor, kOperandNone, 0, 0x21, kOpPure},
    {kOpNot, kOperandNone, 0, 0x11, kOpPure},
    {kOpAny, kOperandWords, 1, 0xF1, kOpPure},
    {kOpAll, kOperandWords, 1, 0xF1, kOpPure},
    {kOpMin, kOperandWords, 2, 0xFF, kOpPure},
    {kOpMax, kOperandWords, 2, 0xFF, kOpPure},
    {kOpCross, kOperandWords, 1, 0xF1, kOpPure},
    {kOpDot, kOperandWords, 1, 0xF1, kOpPure},
    {kOpFind, kOperandWords, 2, 0xFF, kOpPure},
    {kOpNnz, kOperandNone, 0, 0x11, kOpPure},
    {kOpIsempty, kOperandNone, 0, 0x11, kOpPure},
    {kOpIslogical, kOperandNone, 0, 0x11, kOpPure},
    {kOpLogical, kOperandNone, 0, 0x11, kOpPure},
    {kOpIsfinite, kOperandNone, 0, 0x11, kOpPure},
    {kOpIsinf, kOperandNone, 0, 0x11, kOpPure},
    {kOpIsnan, kOperandNone, 0, 0x11, kOpPure},
    {kOpExist, kOperandWords, 1, 0xF1, kOpPure},
    {kOpNum2list, kOperandWords, 1, 0xF1, kOpPure},
    {kOpNum2cell, kOperandWords, 1, 0xF1, kOpPure},
    {kOpList2num, kOperandNone, 0, 0x11, kOpPure},
    {kOpIslist, kOperandNone, 0, 0x11, kOpPure},
    {kOpIscell, kOperandNone, 0, 0x11, kOpPure},
    {kOpReplist, kOperandNone, 0, 0x21, kOpPure},
    {kOpStruct, kOperandWords, 1, 0xF1, kOpPure},
    {kOpIsstruct, kOperandNone, 0, 0x11, kOpPure},
    {kOpIsfield, kOperandNone, 0, 0x21, kOpPure},
    {kOpGetfield, kOperandNone, 0, 0x21, kOpPure},
    {kOpSetfield, kOperandNone, 0, 0x31, kOpPure},
    {kOpRmfield, kOperandNone, 0, 0x21, kOpPure},
    {kOpFieldnames, kOperandNone, 0, 0x11, kOpPure},
    {kOpOrderfields, kOperandWords, 2, 0xFF, kOpPure},
    {kOpClass, kOperandWords, 1, 0xF1, kOpPure},
    {kOpIsobject, kOperandNone, 0, 0x11, kOpPure},
    {kOpIsa, kOperandNone, 0, 0x21, kOpPure},
    {kOpMethods, kOperandWords, 1, 0x1F, kOpPure},
    {kOpEval, kOperandWords, 1, kEffectIrregular, 0},  // runs further code: no plain effect
    {kOpFeval, kOperandWords, 2, kEffectIrregular, 0},  // likewise
    {kOpBuiltin, kOperandWords, 2, kEffectIrregular, 0},  // likewise
    {kOpInline, kOperandWords, 1, 0xF1, kOpPure},
    {kOpStr2fun, kOperandNone, 0, 0x11, 0},
    {kOpFun2str, kOperandNone, 0, 0x11, kOpPure},
    {kOpJump, kOperandWords, 1, kEffectIrregular, 0},
    {kOpJumpIfTrue, kOperandWords, 1, kEffectIrregular, 0},
    {kOpJumpIfFalse, kOperandWords, 1, kEffectIrregular, 0},
    {kOpSkip, kOperandWords, 1, kEffectIrregular, 0},
    {kOpCaseTest, kOperandWords, 1, kEffectIrregular, 0},
    {kOpForNext, kOperandWords, 1, kEffectIrregular, 0},
    {kOpForRangeNext, kOperandWords, 1, kEffectIrregular, 0},
    {kOpRangePack, kOperandWords, 1, kEffectIrregular, kOpPure},
    {kOpRangeFinal, kOperandNone, 0, kEffectIrregular, 0},
    {kOpOrElse, kOperandWords, 1, kEffectIrregular, 0},
    {kOpAndThen, kOperandWords, 1, kEffectIrregular, 0},
    {kOpCallUser, kOperandWords, 3, kEffectIrregular, 0},
    {kOpPositionWide, kOperandWords, 3, kEffectIrregular, 0},
    {kOpCallNamed, kOperandWords, 1, kEffectIrregular, 0},
    {kOpRetFunction, kOperandNone, 0, kEffectIrregular, 0},
    {kOpHalt, kOperandNone, 0, kEffectIrregular, 0},
    {kOpError, kOperandWords, 1, 0xF0, 0},
    {kOpWarning, kOperandWords, 1, 0xF0, 0},
    {kOpRethrow, kOperandNone, 0, 0x10, 0},
    {kOpLasterr, kOperandWords, 1, 0x0F, kOpPure},
    {kOpLasterror, kOperandNone, 0, 0x01, kOpPure},
    {kOpTryHandler, kOperandWords, 2, kEffectIrregular, 0},
    {kOpPosition, kOperandWords, 2, kEffectIrregular, kOpPure},
    {kOpInfo, kOperandNone, 0, 0x01, kOpPure},
    {kOpAssert, kOperandWords, 1, 0xF0, 0},  // raises errors: never dropped as pure
    {kOpTaskEnd, kOperandNone, 0, kEffectIrregular, 0},
};

namespace {

const char* const kKeywords[kKeywordCount] = {
    "break", "case", "catch", "continue", "else", "elseif", "end", "endfunction", "for",
    "function", "global", "if", "include", "includeifexists", "otherwise", "persistent",
    "private", "public", "repeat", "return", "switch", "try", "until", "use", "useifexists",
    "while", "_pragma",
};

constexpr char kIntrinsicSection[] = "ZVR";
constexpr int32_t kMaxPlainEffect = 0xFF;
constexpr size_t kIntrinsicNameBytes = sizeof(IntrinsicEntry::name);

bool kind_is_known(int32_t kind) {
  switch (kind) {
    case kOperandNone: case kOperandWords: case kOperandInt32: case kOperandInt64:
    case kOperandDouble: case kOperandString8: case kOperandString16:
      return true;
    default:
      return false;
  }
}

bool starts_callable_name(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

}  // namespace

int insn_length(const uint16_t* code) {
  const OpcodeInfo* info = opcode_info(code[0]);
  if (info == nullptr) return kLibraryCallWords;
  switch (info->kind) {
    case kOperandWords: return info->count + 1;
    case kOperandInt32: return 2 * info->count + 1;
    case kOperandInt64:
    case kOperandDouble: return 4 * info->count + 1;
    // A string's length word is a count, never negative.
    case kOperandString8: return ((int(code[1]) + 1) >> 1) + 2;
    case kOperandString16: return int(code[1]) + 2;
    default: return 1;
  }
}

int insn_stack_effect(const uint16_t* code, int* nin, int* nout) {
  const OpcodeInfo* info = opcode_info(code[0]);
  int32_t effect = info ? info->effect : (kEffectFromOperand << 4 | kEffectFromOperand);
  if (effect == kEffectIrregular) return kBadArgument;
  int in = effect >> 4;
  int out = effect & 15;
  int next = 1;
  if (in == kEffectFromOperand) in = int16_t(code[next++]);
  if (out == kEffectFromOperand) out = int16_t(code[next]);
  if (nin) *nin = in;
  if (nout) *nout = out;
  return kOk;
}

int core_builtin_name(EngineContext* ctx, uint32_t opcode, int operator_form, char* buf) {
  const char* name = "";
  if (opcode < uint32_t(kEngineOpcodeCount)) {
    if (const IntrinsicEntry* e = intrinsic_by_opcode(opcode)) name = e->name;
  } else if (const BuiltinEntry* row = ctx ? lib_entry_by_index(ctx, int(opcode - kFirstLibraryOpcode)) : nullptr) {
    name = row->name;
  }
  if (operator_form && name[0] != '\0') {
    if (const char* token = operator_token_for(name)) name = token;
  }
  // A library name may fill all 32 bytes without a terminator.
  size_t len = strnlen(name, kOpNameBytes);
  std::memcpy(buf, name, len);
  std::memset(buf + len, 0, kOpNameBytes - len);
  return len == size_t(kOpNameBytes) ? kOpNameBytes : 0;
}

const char* intrinsic_name_by_index(EngineContext* ctx, int k, int operator_form,
                                    const char** section, bool* is_group) {
  if (k < 0) return nullptr;
  if (operator_form) return k < kOperatorCount ? kOperatorTable[k].token : nullptr;
  if (k < kIntrinsicCount) {
    if (section) *section = kIntrinsicSection;
    if (is_group) *is_group = false;
    return kIntrinsicTable[k].name;
  }
  if (ctx == nullptr || ctx->tables.v == 0) return nullptr;
  int left = k - kIntrinsicCount;
  const LibraryTableRef* refs = table_refs(ctx);
  for (int32_t t = 0; t < ctx->table_count; ++t) {
    for (int32_t r = 0; r < refs[t].rows; ++r) {
      const char* name = refs[t].table[r].name;
      if (name[0] == '@' || name[0] == '!') {
        if (section) *section = name + 1;
        if (is_group) *is_group = name[0] == '!';
      } else if (starts_callable_name(name[0]) && left-- == 0) {
        return name;
      }
    }
  }
  return nullptr;
}

const char* keyword_next(const char* keyword) {
  if (keyword == nullptr) return kKeywords[0];
  for (int i = 0; i + 1 < kKeywordCount; ++i)
    if (kKeywords[i] == keyword) return kKeywords[i + 1];
  return nullptr;
}

int opcode_table_selfcheck(std::span<const OpcodeInfo> info, std::span<const IntrinsicEntry> intrinsics) {
  if (info.size() != size_t(kEngineOpcodeCount)) return kInitError;
  for (size_t i = 0; i < info.size(); ++i) {
    const OpcodeInfo& r = info[i];
    if (r.opcode != int32_t(i)) return kInitError;
    if (r.kind == kOperandNone ? r.count != 0 : r.count <= 0) return kInitError;
    // Guards beyond the layout rule: the readers trust kind and effect.
    if (!kind_is_known(r.kind)) return kInitError;
    if (r.effect != kEffectIrregular && (r.effect < 0 || r.effect > kMaxPlainEffect)) return kInitError;
  }
  for (const IntrinsicEntry& e : intrinsics) {
    if (e.opcode == kIntrinsicEndOpcode) return kOk;
    // A row must name an engine opcode and hold a terminated name, or the
    // lookups would index past the description table or read past the name.
    if (e.opcode >= info.size()) return kInitError;
    if (e.name[0] == '\0' || std::memchr(e.name, 0, kIntrinsicNameBytes) == nullptr) return kInitError;
    const OpcodeInfo& r = info[e.opcode];
    if (r.effect == kEffectIrregular) continue;
    int in = r.effect >> 4;
    int out = r.effect & 15;
    bool var_in = argc_is_variable(e.in_args);
    bool var_out = argc_is_variable(e.out_args);
    if (var_in ? in != kEffectFromOperand : e.in_args != uint32_t(in)) return kInitError;
    if (var_out ? out != kEffectFromOperand : e.out_args != uint32_t(out)) return kInitError;
    int32_t variable = int32_t(var_in) + int32_t(var_out);
    if (variable != r.count) return kInitError;
    if (variable > 0 && r.kind != kOperandWords) return kInitError;
  }
  return kInitError;  // no end row
}

int opcode_table_selfcheck() {
  return opcode_table_selfcheck(kOpcodeInfoTable, kIntrinsicTable);
}
