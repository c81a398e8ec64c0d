// The states of an application's menus: "_menuFlags", the instance's own
// function that answers which titles, items and entries are enabled and
// checked, evaluated into three tables of 64 bytes that the host reads per
// menu record.
#pragma once

#include <cstdint>

#include "runtime/runtime_block.h"

inline constexpr const char kMenuFlagsFunction[] = "_menuFlags";
// The code of `_param` among a handler's inputs and outputs.
constexpr int32_t kParamCode = 28;
// Bits of a menu title's state byte.
enum : uint8_t { kMenuEnabled = 1, kMenuChecked = 2 };
// The state of a selected and an unselected section entry.
constexpr int32_t kSectionSelected = kMenuEnabled | kMenuChecked;
constexpr int32_t kSectionOther = kMenuEnabled;

// The type of a data text as `_xdatatype` reads it: "" for no text, the
// quoted type of a "%TN xdata " header, else "text".
int32_t xdata_text_type(const char* text, int32_t length, const char** type);

// Runs "_menuFlags" of the instance with the current value of every field
// above 105, the type of the data text and the current subplot's parameter;
// its three results are left on the stack (first on top). 0,
// kUndefinedFunction without such a function (nothing printed), or the
// status of the run. The call context is left at instance 0.
int inst_menu_flags_eval(RuntimeBlock* b, int32_t id, const char* data, int32_t length);

// True when the handler of the record at run position `position` has
// `_param` among its outputs or inputs.
bool menu_item_uses_param(RuntimeBlock* b, int32_t id, char kind, int32_t position);

// The state of the menu record at run position `position`: 3 or 1 for a
// section entry (selected or not); else its byte of the tables, which are
// evaluated again unless they are current for `stamp`; 1 for any other
// record or when "_menuFlags" fails.
int32_t inst_menu_item_state(RuntimeBlock* b, int32_t id, int32_t position, int32_t stamp, const char* data,
                             int32_t length);

// The item to run for a data text among the item at `position` and the
// alternatives after it (items without a label): "_menuFlags" is evaluated
// with the text, and the first of them, passing over those whose link
// instance id is 0, whose value in its item vector is set is taken; an item
// whose handler uses `_param` counts as not set without a current subplot.
// Its run position, or kNoTextHandler.
constexpr int32_t kNoTextHandler = -2;
int32_t inst_handler_text_value(RuntimeBlock* b, int32_t id, int32_t position, const char* text, int32_t length);

// Whether the figure record at run position `figure` can be chosen for the
// current subplot (bit 0: there is one, or a free layout can take a new
// subplot) and whether it is the one shown there (bit 1).
enum : int32_t { kFigureSelectable = 1, kFigureShown = 2 };
int32_t inst_can_select_subplot(RuntimeBlock* b, int32_t id, int32_t figure);
