// plotroots(p [, style [, id]]): for each row of p a record 43 (real) or 44
// (complex coefficients) holding the polynomial, followed by a code-1 record
// of its roots. The root finder works in scratch at the top of the list,
// counted in the room check with both records.
#include "graphics/commands/plotroots_command.h"

#include <cstring>

#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/commands/command_args.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/subplot/autoscale.h"
#include "numlib/polyroots.h"

namespace {

constexpr uint32_t kRootMarkerBits = 520;  // marker x, default style
constexpr int32_t kCodeRealRoots = 43, kCodeComplexRoots = 44;

// Doubles a row needs: its polynomial record, the roots' record, the
// coefficients copied for the finder, its work and the roots themselves.
int64_t row_room(int64_t d, bool complex) {
  const int64_t planes = complex ? 2 : 1;
  return kRecHead + 1 + planes * (d + 1) + kRecHead + 1 + 2 * d + planes * (d + 1) +
         (complex ? roots_complex_work(d) : roots_real_work(d));
}

}  // namespace

int plotroots_compute(CommandList list, const double* re, const double* im, int32_t d,
                      const StyleSpec& style, double id, double index, Subplot* s) {
  const bool complex = im != nullptr;
  const int64_t planes = complex ? 2 : 1;
  const int64_t scratch = planes * (d + 1) + 2 * d + (complex ? roots_complex_work(d) : roots_real_work(d));
  const int64_t record = kRecHead + 1 + 2 * int64_t(d);
  if (*list.used + record + scratch > list.capacity) return kPlotOverflow;
  // Scratch from the top of the list: the copy the finder may rewrite, the
  // roots, its work.
  double* top = list.data + list.capacity - scratch;
  double* p_re = top;
  double* p_im = complex ? p_re + d + 1 : nullptr;
  double* r_re = top + planes * (d + 1);
  double* r_im = r_re + d;
  double* work = r_im + d;
  std::memcpy(p_re, re, size_t(d + 1) * sizeof(double));
  if (complex) std::memcpy(p_im, im, size_t(d + 1) * sizeof(double));
  if (d > 0) {
    if (complex) roots_complex_coeffs(p_re, p_im, d, r_re, r_im, work);
    else roots_real_coeffs(p_re, d, r_re, r_im, work);
  }
  PlotWriter w = command_writer(list);
  TN_TRY(plotwriter_begin_record(&w, kCodePolyline, id, index, &style, int32_t(2 * d + 1)));
  const int32_t at = w.used;
  plotwriter_put(&w, d);
  for (int32_t k = 0; k < d; ++k) plotwriter_put(&w, r_re[k]);
  for (int32_t k = 0; k < d; ++k) plotwriter_put(&w, r_im[k]);
  subplot_autoscale_to_data(s, w.data + at + 1, w.data + at + 1 + d, nullptr, d);
  *list.used = w.used;
  return kOk;
}

int plot_cmd_plotroots(EngineContext* ctx, int nargin, Subplot* s, CommandList list) {
  double id = kNoId;
  if (nargin == 3) TN_TRY(arg_scalar_id(ctx, nargin, 2, &id));
  StyleArg style;
  if (nargin >= 2) TN_TRY(arg_style(ctx, nargin, 1, &style));
  int32_t rows = 0, cols = 0;
  double *re = nullptr, *im = nullptr;
  TN_TRY(stk_get_matrix(ctx, nargin - 1, &rows, &cols, &re, &im));
  if (rows == 0 || cols < 2) {
    command_done(ctx, nargin);
    return kOk;
  }
  for (int32_t i = 0; i < rows; ++i) {
    const double* pr = re + int64_t(i) * cols;
    const double* pi = im ? im + int64_t(i) * cols : nullptr;
    int32_t lead = 0;
    while (lead < cols - 1 && pr[lead] == 0 && (!pi || pi[lead] == 0)) ++lead;
    const int32_t d = cols - 1 - lead;
    StyleSpec st;
    TN_TRY(style_of(style, i, kRootMarkerBits, nullptr, &st));
    TN_TRY(command_room(list, row_room(d, pi != nullptr)));
    command_open(list, s);
    PlotWriter w = command_writer(list);
    const int64_t planes = pi ? 2 : 1;
    TN_TRY(plotwriter_begin_record(&w, pi ? kCodeComplexRoots : kCodeRealRoots, id, i + 1, &st,
                                   int32_t(1 + planes * (d + 1))));
    plotwriter_put(&w, d);
    for (int32_t k = 0; k <= d; ++k) plotwriter_put(&w, pr[lead + k]);
    if (pi)
      for (int32_t k = 0; k <= d; ++k) plotwriter_put(&w, pi[lead + k]);
    *list.used = w.used;
    TN_TRY(plotroots_compute(list, pr + lead, pi ? pi + lead : nullptr, d, st, id, i + 1, s));
  }
  command_done(ctx, nargin);
  return kOk;
}
