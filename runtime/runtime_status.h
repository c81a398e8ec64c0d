// Status codes of the application runtime and the graphics, from 10000 up
// (the engine's lie below). The runtime's error table gives their texts;
// statuses from 10200 up are answers to the host and have no text.
#pragma once

enum : int {
  kRtExhausted = 10000,
  kRtPlotOverflow = 10001,
  kRtTooSmallNameBuf = 10002,
  kRtNoMoreNameSlot = 10003,
  kRtNotEnoughMemForTN = 10004,
  kRtTooSmallUndoBuf = 10005,
  kRtNotEnoughMemForTNFile = 10006,
  kRtTooManyVarInUndoBuf = 10008,
  kRtVarTooLargeForUndo = 10009,
  kRtVarNotFound = 10010,
  kRtVarDuplicate = 10011,
  kRtUndefElement = 10039,
  kRtNonexistentInstance = 10040,
  kRtCannotCreateFigure = 10041,
  kRtInvalidFigureId = 10042,
  kRtNonexistentUndoSet = 10043,
  kRtCannotUndo = 10056,
  kRtCannotRedo = 10057,
  kRtLastTableCode = 10057,

  kRtNoInteraction = 10200,
  kRtHandledRedraw = 10201,
  kRtSectionChanged = 10202,
  kRtNoHandler = 10203,
};
