// Error identifiers and messages of codes 10000 to 10057, exactly as the
// runtime reports them, and the plot table whose 10001 row comes first in
// lookup order. Texts keep their own spelling ("dependance", "an TN").
#include "runtime/error_tables.h"

#include "engine/lib/builtin_tables.h"

const ErrMsgEntry kRuntimeErrorTable[kRuntimeErrorRows + 1] = {
    {10000, "exhaustedRsrc", "Exhausted resources"},
    {10001, "plotOverflow", "Plot memory overflow"},
    {10002, "tooSmallNameBuf", "Too small name buffer"},
    {10003, "noMoreNameSlot", "No more name slot"},
    {10004, "notEnoughMemForTN", "Too small TN buffer"},
    {10006, "notEnoughMemForTNFile", "Not enough memory for decoding TN file"},
    {10007, "circularMakeDep", "Circular make dependance"},
    {10005, "tooSmallUndoBuf", "Too small Undo buffer"},
    {10008, "tooManyVarInUndoBuf", "Too many variables for the Undo buffer"},
    {10009, "varTooLargeForUndo", "Variable too large for the Undo buffer"},
    {10010, "varNotFound", "Variable not found"},
    {10011, "varDuplicate", "Variable already exists"},
    {10012, "unexpectedStdVar", "Standard variable unexpected here"},
    {10013, "syntaxError", "Syntax error in TN file"},
    {10014, "unknownKeyword", "Unknown TN file keyword"},
    {10015, "unknownUIOption", "Unknown userinterface option"},
    {10016, "unexpectedChar", "Unexpected character in TN file"},
    {10017, "emptyString", "Invalid empty string"},
    {10018, "blockExpected", "Block of text expected"},
    {10019, "unterminatedBlock", "Unterminated block of text"},
    {10020, "stringExpected", "String expected"},
    {10021, "charExpected", "Character expected"},
    {10022, "unterminatedString", "Unterminated string"},
    {10023, "badVarDecl", "Bad variable declaration"},
    {10024, "badDef", "Bad definition"},
    {10025, "badFunDef", "Bad function declaration"},
    {10026, "missingFunDecl", "Missing function declaration"},
    {10027, "unterminatedOutArgs", "Unterminated list of output arguments"},
    {10028, "unterminatedInArgs", "Unterminated list of input arguments"},
    {10029, "unexpectedCharOutArgs", "Unexpected character in list of output arguments"},
    {10030, "unexpectedCharInArgs", "Unexpected character in list of input arguments"},
    {10031, "missingEqualInFunDecl", "Missing '=' after list of output arguments"},
    {10032, "badFunName", "Bad function name in function declaration"},
    {10033, "varNameAsFunName", "Variable name used as function name"},
    {10034, "unexpectedCharAfterFunDecl", "Unexpected character after function declaration"},
    {10035, "missingListOfVar", "Missing list of variables"},
    {10036, "unterminatedListOfVar", "Unterminated list of variables"},
    {10037, "unexpectedCharInListOfVar", "Unexpected character in list of variables"},
    {10038, "badFunBlock", "Bad block of source code"},
    {10039, "undefElement", "Undefined element"},
    {10040, "nonexistentInstance", "Nonexistent instance"},
    {10041, "cannotCreateFigure", "Cannot create new figure"},
    {10042, "invalidFigureId", "Invalid figure ID"},
    {10043, "nonexistentUndoSet", "Nonexistent set of variables in the Undo buffer"},
    {10044, "invalidMultipleDecl", "Invalid multiple declaration"},
    {10045, "invalidDeclHere", "Declaration invalid here"},
    {10046, "menuendMismatch", "\"endmenu\" not matching \"beginmenu\""},
    {10047, "submenuendMismatch", "\"endsubmenu\" not matching \"beginsubmenu\""},
    {10048, "nestedMenu", "Nested menus"},
    {10049, "nestedSubmenu", "Nested submenus"},
    {10050, "missingEndmenu", "Missing \"endmenu\""},
    {10051, "missingEndsubmenu", "Missing \"endsubmenu\""},
    {10052, "menuOutsideBeginmenu", "\"menu\" outside \"beginmenu\"/\"endmenu\""},
    {10053, "notTND", "Not an TN data file"},
    {10054, "cannotOpenLib", "Library file cannot be opened in place of TN file"},
    {10055, "TNSrcNotAvailable", "TN file source code not available"},
    {10056, "cannotUndo", "Cannot undo"},
    {10057, "cannotRedo", "Cannot redo"},
    {0, nullptr, nullptr},
};

const ErrMsgEntry kPlotErrorTable[2] = {
    {10001, "plotOverflow", "Not enough memory for plot"},
    {0, nullptr, nullptr},
};

int rt_error_tables_bind() {
  static const BuiltinBinding bindings[] = {
      {"", kHookErrMsgTable, errmsg_table_as_fn(kPlotErrorTable), 0},
      {"!Tarnivel", kHookErrMsgTable, errmsg_table_as_fn(kRuntimeErrorTable), 0},
  };
  return builtin_table_bind(g_builtin_table_engine, bindings, 2);
}
