// Shared steps of the plot command bodies: matrices and style strings read
// from the value stack, styles of the i-th element, and the opening of an
// object in an empty list. Internal to graphics/commands.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "graphics/commands/line_commands.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/plotlist/style_spec.h"

constexpr int32_t kStyleTextBytes = 256;
constexpr uint32_t kDefaultCurveBits = 8;
constexpr double kNoId = -1.0;

// A real matrix argument (the real part of a complex one).
struct MatArg {
  bool given = false;
  int32_t rows = 0, cols = 0;
  const double* re = nullptr;
  double at(int32_t i, int32_t j) const { return re[int64_t(i) * cols + j]; }
};
int arg_matrix(EngineContext* ctx, int nargin, int arg, MatArg* out);
// The same for an argument that must be real: a complex one is kWrongType,
// as any other wrong kind, rather than losing its imaginary parts unseen.
int arg_real_matrix(EngineContext* ctx, int nargin, int arg, MatArg* out);

// kWrongType when one of the arguments first .. first + count - 1 is text.
// Commands call it for arguments that must be numbers before any check that
// answers kWrongArgType: for that code the engine calls the command again
// with the character codes in place of the text, and 'abc' would draw as
// [97 98 99].
int arg_refuse_text(EngineContext* ctx, int nargin, int first, int count);

// A style string argument; length -1 when absent.
struct StyleArg {
  char text[kStyleTextBytes];
  int32_t length = -1;
};
int arg_style(EngineContext* ctx, int nargin, int arg, StyleArg* out);
// Style of element i: the i-th alternative, or the defaults without a string.
int style_of(const StyleArg& st, int32_t i, uint32_t default_bits, const uint8_t* default_rgb, StyleSpec* out);
// A real 1-by-1 id argument; kBadArgument for any other shape.
int arg_scalar_id(EngineContext* ctx, int nargin, int arg, double* id);

// Room for `records` doubles plus the opening record when the list is
// empty; kPlotOverflow when they do not all fit.
int command_room(const CommandList& list, int64_t records);
// Opens the object and starts auto-scaling when the list is empty. Call
// only after command_room.
void command_open(const CommandList& list, Subplot* s);
// True while the current object holds nothing yet: the list is empty, or
// its last record is the opening record of an object (a figure's list
// always begins so before the plot handler runs).
bool command_object_empty(const CommandList& list);
PlotWriter command_writer(const CommandList& list);
void command_done(EngineContext* ctx, int nargin);
