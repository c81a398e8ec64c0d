// The response plot commands: bodemag, bodephase, sigma and their discrete
// forms, step, impulse, dstep, dimpulse, with the response options and
// responseset. Each body checks its arguments, writes a record describing
// the system (found again by the hit test) followed by its curves, or, when
// outputs are asked, pushes the computed values instead of drawing.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/options.h"
#include "graphics/commands/line_commands.h"

// The response options: "Delay", "NegFreq", "Range" (hidden), "tOnly" (hidden).
extern const OptionDesc kResponseOptions[];

// Reads the options structure at depth (none when depth < 0): the delay (with
// the warning for discrete systems), the flags and the range [low, high]
// ([0, 0] when absent or empty; kBadSize for another count). Outputs may be null.
int response_options_parse(EngineContext* ctx, int depth, bool discrete, double* delay,
                           uint8_t* negfreq, uint8_t* tonly, double* range);

// What a response command computes.
enum ResponseKind : char {
  kRespMagnitude = 'm',
  kRespPhase = 'p',
  kRespSigma = 's',
  kRespStep = 'S',
  kRespImpulse = 'I',
  kRespInitial = 'X',  // the free response from an initial state
  kRespNyquist = 'n',
  kRespNichols = 'N',
  kRespLocus = 'r',
};
enum Properness : uint8_t { kAnyDegree = 0, kProper = 1, kStrictlyProper = 2 };

// One row of the commands' table.
struct ResponseCommand {
  int32_t tf_code;  // record of the transfer-function form, -1: not taken
  int32_t ss_code;  // record of the state-space form, -1: not taken
  ResponseKind kind;
  Properness properness;
  bool one_input, discrete, ts_arg, range_arg, options_arg, id_arg;
};
extern const ResponseCommand kCmdBodemag, kCmdBodephase, kCmdSigma, kCmdDbodemag, kCmdDbodephase,
    kCmdDsigma, kCmdStep, kCmdDstep, kCmdImpulse, kCmdDimpulse, kCmdInitial, kCmdDinitial,
    kCmdNyquist, kCmdDnyquist, kCmdNichols, kCmdDnichols, kCmdRlocus;

// The shared body. With nargout > 0 nothing is drawn: the values are
// computed in the upper half of the engine's free space and pushed (s may
// then be null; list.data is not used). Otherwise s and list are required.
int plot_cmd_response(EngineContext* ctx, int nargin, int nargout, Subplot* s, CommandList list,
                      const ResponseCommand& cmd);

// initial(A, C, x0) or initial(A, B, C, D, x0); dinitial(A, C, Ts, x0) or
// dinitial(A, B, C, D, Ts, x0); then an options structure, a style string
// and an id, each optional. A non-string where the style goes ends the
// command with nothing drawn. B and D are only checked.
int plot_cmd_initial(bool discrete, EngineContext* ctx, int nargin, int nargout, Subplot* s,
                     CommandList list);

// lsim(num, den, u, t) or lsim(A, B, C, D, u, t [, x0]); dlsim takes Ts in
// place of t; then an options structure, a style string and an id, each
// optional. u holds one input per column (a row is one input). No system
// record is written: one curve per output.
int plot_cmd_lsim(bool discrete, EngineContext* ctx, int nargin, int nargout, Subplot* s,
                  CommandList list);
