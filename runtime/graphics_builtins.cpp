// Graphics built-in wrappers: 400 without a current subplot; otherwise the
// body runs on the current subplot of the current instance and the list
// being built, and a success marks the layout as changed. Also subplot,
// firstrun and the special-variable functions, which read the event state.
#include "runtime/graphics_builtins.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "engine/core/continuation.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "runtime/layout.h"
#include "engine/lib/builtin_tables.h"
#include "graphics/commands/contour_commands.h"
#include "graphics/commands/image_commands.h"
#include "graphics/commands/line_commands.h"
#include "graphics/commands/control_commands.h"
#include "graphics/commands/text_commands.h"
#include "graphics/commands/grid_commands.h"
#include "graphics/commands/hstep_command.h"
#include "graphics/commands/plotroots_command.h"
#include "graphics/commands/poly_commands.h"
#include "graphics/commands/response_commands.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/plotlist/plot_store.h"
#include "graphics/subplot/autoscale.h"
#include "graphics/subplot/plot_options.h"
#include "runtime/instances.h"
#include "runtime/plot_lists.h"
#include "runtime/special_vars.h"

namespace {
constexpr char kGraphicsSection[] = "!Tarnivel";
constexpr int32_t kMaxSubplotGrid = 4;

// The current subplot and the list under construction, or kBadContext.
int current_target(uintptr_t data, CallContext** call_out, Subplot** s, CommandList* list) {
  CallContext* call = reinterpret_cast<CallContext*>(data);
  if (!call || !call->block) return kBadContext;
  RuntimeBlock* b = call->block;
  const int32_t k = b->h.build.subplot;
  InstanceRec* rec = k >= 0 && k < kMaxSubplots ? inst_find_by_id(b, call->instance_id) : nullptr;
  if (!rec || b->h.build.key != call->instance_id) return kBadContext;
  *call_out = call;
  *s = &rec->subplots[k];
  *list = CommandList{plotstore_data(rt_plot_store(b)) + b->h.build.start, b->h.build.capacity, &b->h.build.used};
  return kOk;
}

// A statement call leaves the no-value item in place of the inputs. Room
// for it is checked before the body runs: once the body has written its
// records and removed its inputs, a failure could no longer leave the
// stacks and the list as they were.
int statement_room(EngineContext* ctx, int nargout) {
  return nargout >= 0 || desc_room(ctx) ? int(kOk) : int(kStackOverflow);
}

// A command without results: runs the body on the current subplot.
template <class Body>
int run_command(EngineContext* ctx, int nargout, uintptr_t data, Body body) {
  CallContext* call = nullptr;
  Subplot* s = nullptr;
  CommandList list{};
  TN_TRY(current_target(data, &call, &s, &list));
  TN_TRY(statement_room(ctx, nargout));
  TN_TRY(body(s, list));
  call->status |= kCallLayoutChanged;
  if (nargout < 0) TN_TRY(stk_push_no_value(ctx));
  return kOk;
}

int plot_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_plot(ctx, nargin, s, l, false, true); });
}
int plot3_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_plot(ctx, nargin, s, l, true, true); });
}
int polar_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_polar(ctx, nargin, s, l); });
}
int line_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_line(ctx, nargin, s, l, false); });
}
int line3_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_line(ctx, nargin, s, l, true); });
}
int circle_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_circle(ctx, nargin, s, l); });
}
int activeregion_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_activeregion(ctx, nargin, s, l); });
}

int area_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_area(ctx, nargin, s, l, true); });
}
int bar_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_bar(ctx, nargin, s, l, false); });
}
int barh_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_bar(ctx, nargin, s, l, true); });
}

int image_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_image(ctx, nargin, s, l, true); });
}
int pcolor_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_pcolor(ctx, nargin, s, l, true); });
}
int quiver_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_quiver(ctx, nargin, s, l); });
}
int plotpoly_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_plotpoly(ctx, nargin, s, l, true); });
}
// mesh and surf: one body; the variant is a function of its own.
template <bool Surface>
int mesh_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_mesh(ctx, nargin, s, Surface, l, true); });
}
// contour and contour3: one body; the row's data word is the call context,
// so the variant is a function of its own.
template <bool ThreeD>
int contour_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return contour_compute(ctx, nargin, s, ThreeD, l); });
}
int erlocus_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return erlocus_compute(ctx, nargin, s, l); });
}
// colormap pushes its own result or no-value item.
int colormap_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* call = nullptr;
  Subplot* s = nullptr;
  CommandList list{};
  TN_TRY(current_target(data, &call, &s, &list));
  TN_TRY(plot_cmd_colormap(ctx, nargin, nargout, s, list));
  if (nargin > 0) call->status |= kCallLayoutChanged;
  return kOk;
}

int text_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_text(ctx, nargin, s, l); });
}
int settabs_builtin(EngineContext* ctx, int, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data, [&](Subplot* s, CommandList l) { return plot_cmd_settabs(ctx, s, l); });
}
int legend_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_legend(ctx, nargin, s, l); });
}

int slider_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_slider(ctx, nargin, s, l); });
}
int pushbutton_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_pushbutton(ctx, nargin, s, l); });
}
int button_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_button(ctx, nargin, s, l); });
}
int popupmenu_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_popupmenu(ctx, nargin, s, l); });
}
int textfield_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_textfield(ctx, nargin, s, l); });
}

// fplot: the body hands each value of the function to the engine and is
// entered again with it; the command is over only when the body says so.
int fplot_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* call = nullptr;
  Subplot* s = nullptr;
  CommandList list{};
  const int target = current_target(data, &call, &s, &list);
  // A resumed entry goes to the body whatever the target: its state and
  // arguments lie under the value, and only the body can clear them.
  if (target != kOk && builtin_resumed(nargin) < 0) return target;
  uint8_t not_calling = 1;
  TN_TRY(plot_cmd_fplot(ctx, nargin, target == kOk ? s : nullptr, list, true, &not_calling));
  if (!not_calling) return kOk;
  call->status |= kCallLayoutChanged;
  if (nargout < 0) TN_TRY(stk_push_no_value(ctx));
  return kOk;
}

// firstrun: the instance's figure-only byte, false without an instance.
int firstrun_builtin(EngineContext* ctx, int, int, uintptr_t data) {
  CallContext* call = reinterpret_cast<CallContext*>(data);
  const InstanceRec* rec = call && call->block ? inst_find_by_id(call->block, call->instance_id) : nullptr;
  return stk_push_logical_scalar(ctx, rec && rec->figure_only ? 1 : 0);
}

// The special-variable functions (_x, _id and the rest): the value of the
// manipulation that caused this redraw while the instance's event-values
// flag is set (the byte after its figure-only byte), else an empty matrix,
// also without an instance.
int push_event_value(EngineContext* ctx, uintptr_t data, int32_t code) {
  CallContext* call = reinterpret_cast<CallContext*>(data);
  RuntimeBlock* b = call ? call->block : nullptr;
  const InstanceRec* rec = b ? inst_find_by_id(b, call->instance_id) : nullptr;
  if (!rec || !rec->resume) return stk_push_empty(ctx);
  return handler_push_special_var(b, call->instance_id, code, false);
}

template <int32_t Code>
int event_value_builtin(EngineContext* ctx, int, int, uintptr_t data) {
  return push_event_value(ctx, data, Code);
}

constexpr int32_t kEventValueCount = kCodeLastEvent - kCodeFirstSpecial + 1;
static_assert(kEventValueCount == 26);

template <size_t... I>
constexpr std::array<BuiltinFn, sizeof...(I)> event_value_fns(std::index_sequence<I...>) {
  return {event_value_builtin<kCodeFirstSpecial + int32_t(I)>...};
}
// By code, from kCodeFirstSpecial.
constexpr auto kEventValueFns = event_value_fns(std::make_index_sequence<kEventValueCount>());

// Binds each special-variable function to the row of its variable's name.
int bind_event_values() {
  BuiltinBinding bindings[kEventValueCount];
  int count = 0;
  for (const SpecialVarDef* v = kSpecialVarTable; v->code >= 0; ++v) {
    if (v->code < kCodeFirstSpecial || v->code > kCodeLastEvent) continue;
    if (count == kEventValueCount) return TN_ILLEGAL();  // a code named twice
    bindings[count++] = {kGraphicsSection, v->name, kEventValueFns[size_t(v->code - kCodeFirstSpecial)], 0};
  }
  if (count != kEventValueCount) return TN_ILLEGAL();
  return builtin_table_bind(g_builtin_table_engine, bindings, count);
}

// The grid and cell of subplot's arguments: (rows, cols, index), a number
// 111..999 or a string of three digits 1..9.
int subplot_cell(EngineContext* ctx, int nargin, int32_t* r, int32_t* c, int32_t* k) {
  if (nargin == 2) return kTooManyInputs;
  if (nargin == 3) {
    double v[3];
    for (int i = 0; i < 3; ++i) TN_TRY(stk_get_real_scalar(ctx, 2 - i, &v[i]));
    for (double x : v)
      if (!(x >= 0 && x <= kMaxSubplotGrid * kMaxSubplotGrid) || x != std::floor(x)) return kBadArgument;
    *r = int32_t(v[0]), *c = int32_t(v[1]), *k = int32_t(v[2]);
    return kOk;
  }
  int32_t digits[3];
  if (stk_is_char(ctx, 0)) {
    char text[4];
    int32_t len = 0;
    if (stk_get_string_buf(ctx, 0, text, sizeof text, &len) != kOk || len != 3) return kBadArgument;
    for (int i = 0; i < 3; ++i) {
      if (text[i] < '1' || text[i] > '9') return kBadArgument;
      digits[i] = text[i] - '0';
    }
  } else {
    double v;
    if (stk_get_real_scalar(ctx, 0, &v) != kOk || !(v >= 111 && v <= 999) || v != std::floor(v)) return kBadArgument;
    const int32_t n = int32_t(v);
    digits[0] = n / 100, digits[1] = n / 10 % 10, digits[2] = n % 10;
  }
  *r = digits[0], *c = digits[1], *k = digits[2];
  return kOk;
}

// subplot: selects (and when it changes, sets) the grid and opens the
// cell's object in the list under construction.
int subplot_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* call = nullptr;
  Subplot* s = nullptr;
  CommandList list{};
  TN_TRY(current_target(data, &call, &s, &list));
  TN_TRY(statement_room(ctx, nargout));
  int32_t r, c, k;
  TN_TRY(subplot_cell(ctx, nargin, &r, &c, &k));
  if (r < 1 || r > kMaxSubplotGrid || c < 1 || c > kMaxSubplotGrid || k < 1 || k > r * c) return kBadArgument;
  RuntimeBlock* b = call->block;
  InstanceRec* rec = inst_find_by_id(b, call->instance_id);
  // The figure of the running handler's cell, before a new grid moves it:
  // the cells it draws answer the mouse with that figure's handlers.
  const int32_t running = call->handler_subplot;
  const int32_t figure = running >= 0 && running < std::min(rec->rows * rec->cols, kMaxSubplots)
                             ? inst_own_figure(rec->subplots[running])
                             : kEmptyFigure;
  if (rec->rows != r || rec->cols != c || rec->free_layout) {
    TN_TRY(inst_set_grid(b, call->instance_id, r, c));
    rec = inst_find_by_id(b, call->instance_id);
    // The axes go back to their defaults. The frames the new grid just laid
    // out stay, so code after this call reads its cell; so do the figure and
    // handler words, or the next refresh would no longer find the handler
    // that runs now. The cells are laid out once more, for the plot frames
    // inside them to follow the options' defaults (the margin option).
    for (Subplot& each : rec->subplots) subplot_init(&each, 1);
    inst_layout_positions(rec);
    b->h.build.used = 0;
    call->status |= kCallLayoutChanged;
  }
  TN_TRY(inst_subplot_share(b, call->instance_id, k - 1, figure));
  // The object this cell's own run opened, still empty, gives way to this
  // one: two objects of one subplot would draw its axes twice.
  if (const int32_t empty = plotlist_empty_object_at(list.data, *list.used, k - 1); empty >= 0) *list.used = empty;
  if (!plotlist_open_object(list.data, list.capacity, list.used, k - 1)) return kPlotOverflow;
  b->h.build.subplot = k - 1;
  for (int i = 0; i < nargin; ++i) stk_drop(ctx);
  if (nargout < 0) TN_TRY(stk_push_no_value(ctx));
  return kOk;
}

}  // namespace

int graphics_scale_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* call = nullptr;
  Subplot* s = nullptr;
  CommandList list{};
  TN_TRY(current_target(data, &call, &s, &list));
  TN_TRY(statement_room(ctx, nargout));
  TN_TRY(scale_body(ctx, nargin, nargout, s, list.data, list.capacity, list.used));
  call->status |= kCallLayoutChanged;
  return kOk;
}

// daspect and scalefactor push their own results, as scale does.
template <int (*Body)(EngineContext*, int, int, Subplot*)>
int subplot_query_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* call = nullptr;
  Subplot* s = nullptr;
  CommandList list{};
  TN_TRY(current_target(data, &call, &s, &list));
  TN_TRY(statement_room(ctx, nargout));
  TN_TRY(Body(ctx, nargin, nargout, s));
  call->status |= kCallLayoutChanged;
  return kOk;
}

int plotoption_builtin(EngineContext* ctx, int, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data, [&](Subplot* s, CommandList) { return plotoption_body(ctx, s); });
}
int label_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data, [&](Subplot* s, CommandList) { return label_body(ctx, nargin, s); });
}
int title_builtin(EngineContext* ctx, int, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data, [&](Subplot* s, CommandList) { return title_body(ctx, s); });
}
int lightangle_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data, [&](Subplot* s, CommandList l) {
    return lightangle_body(ctx, nargin, s, l.data, l.capacity, l.used);
  });
}
int material_builtin(EngineContext* ctx, int, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return material_body(ctx, s, l.data, l.capacity, l.used); });
}
// sensor3 adds records that nothing draws: the layout is not marked.
int sensor3_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* call = nullptr;
  Subplot* s = nullptr;
  CommandList list{};
  TN_TRY(current_target(data, &call, &s, &list));
  TN_TRY(statement_room(ctx, nargout));
  TN_TRY(sensor3_body(ctx, nargin, s, list.data, list.capacity, list.used));
  if (nargout < 0) TN_TRY(stk_push_no_value(ctx));
  return kOk;
}

// A response command: with outputs it computes and returns values, on the
// current subplot's axes when there is one and without any otherwise; the
// layout changes only when it draws.
template <const ResponseCommand* Cmd>
int response_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  if (nargout > 0) {
    CallContext* call = nullptr;
    Subplot* s = nullptr;
    CommandList list{};
    if (current_target(data, &call, &s, &list) != kOk) s = nullptr;
    return plot_cmd_response(ctx, nargin, nargout, s, CommandList{nullptr, 0, nullptr}, *Cmd);
  }
  return run_command(ctx, nargout, data, [&](Subplot* s, CommandList l) {
    return plot_cmd_response(ctx, nargin, nargout, s, l, *Cmd);
  });
}

int hstep_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_hstep(ctx, nargin, s, l); });
}

int plotroots_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_plotroots(ctx, nargin, s, l); });
}

// initial and dinitial return values or draw, as the response commands do.
template <bool Discrete>
int initial_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  if (nargout > 0) {
    CallContext* call = nullptr;
    Subplot* s = nullptr;
    CommandList list{};
    if (current_target(data, &call, &s, &list) != kOk) s = nullptr;
    return plot_cmd_initial(Discrete, ctx, nargin, nargout, s, CommandList{nullptr, 0, nullptr});
  }
  return run_command(ctx, nargout, data, [&](Subplot* s, CommandList l) {
    return plot_cmd_initial(Discrete, ctx, nargin, nargout, s, l);
  });
}

// lsim and dlsim return values or draw, as the response commands do.
template <bool Discrete>
int lsim_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  if (nargout > 0) {
    CallContext* call = nullptr;
    Subplot* s = nullptr;
    CommandList list{};
    if (current_target(data, &call, &s, &list) != kOk) s = nullptr;
    return plot_cmd_lsim(Discrete, ctx, nargin, nargout, s, CommandList{nullptr, 0, nullptr});
  }
  return run_command(ctx, nargout, data, [&](Subplot* s, CommandList l) {
    return plot_cmd_lsim(Discrete, ctx, nargin, nargout, s, l);
  });
}

// A chart command in the instance's chart style (the third of its styles:
// default, fill, chart, frame, axes, interactive axes).
constexpr int32_t kInstanceChartStyle = 2;
template <int32_t Chart, int32_t First, int32_t Second>
int grid_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* call = reinterpret_cast<CallContext*>(data);
  return run_command(ctx, nargout, data, [&](Subplot* s, CommandList l) {
    const InstanceRec* rec = inst_find_by_id(call->block, call->instance_id);
    return plot_cmd_grid(ctx, Chart, First, Second, nargin, s, l, rec ? &rec->styles[kInstanceChartStyle] : nullptr);
  });
}

int rt_graphics_builtins_bind() {
  static const BuiltinBinding bindings[] = {
      {kGraphicsSection, "scale", graphics_scale_builtin, 0},
      {kGraphicsSection, "plot", plot_builtin, 0},
      {kGraphicsSection, "daspect", subplot_query_builtin<daspect_body>, 0},
      {kGraphicsSection, "scalefactor", subplot_query_builtin<scalefactor_body>, 0},
      {kGraphicsSection, "plotoption", plotoption_builtin, 0},
      {kGraphicsSection, "label", label_builtin, 0},
      {kGraphicsSection, "title", title_builtin, 0},
      {kGraphicsSection, "lightangle", lightangle_builtin, 0},
      {kGraphicsSection, "material", material_builtin, 0},
      {kGraphicsSection, "sensor3", sensor3_builtin, 0},
      {kGraphicsSection, "plot3", plot3_builtin, 0},
      {kGraphicsSection, "polar", polar_builtin, 0},
      {kGraphicsSection, "line", line_builtin, 0},
      {kGraphicsSection, "line3", line3_builtin, 0},
      {kGraphicsSection, "circle", circle_builtin, 0},
      {kGraphicsSection, "activeregion", activeregion_builtin, 0},
      {kGraphicsSection, "area", area_builtin, 0},
      {kGraphicsSection, "bar", bar_builtin, 0},
      {kGraphicsSection, "barh", barh_builtin, 0},
      {kGraphicsSection, "fplot", fplot_builtin, 0},
      {kGraphicsSection, "image", image_builtin, 0},
      {kGraphicsSection, "pcolor", pcolor_builtin, 0},
      {kGraphicsSection, "colormap", colormap_builtin, 0},
      {kGraphicsSection, "quiver", quiver_builtin, 0},
      {kGraphicsSection, "plotpoly", plotpoly_builtin, 0},
      {kGraphicsSection, "mesh", mesh_builtin<false>, 0},
      {kGraphicsSection, "surf", mesh_builtin<true>, 0},
      {kGraphicsSection, "contour", contour_builtin<false>, 0},
      {kGraphicsSection, "contour3", contour_builtin<true>, 0},
      {kGraphicsSection, "erlocus", erlocus_builtin, 0},
      {kGraphicsSection, "firstrun", firstrun_builtin, 0},
      {kGraphicsSection, "subplot", subplot_builtin, 0},
      {kGraphicsSection, "text", text_builtin, 0},
      {kGraphicsSection, "settabs", settabs_builtin, 0},
      {kGraphicsSection, "legend", legend_builtin, 0},
      {kGraphicsSection, "fontset", bi_fontset, reinterpret_cast<uintptr_t>(kFontOptions)},
      {kGraphicsSection, "slider", slider_builtin, 0},
      {kGraphicsSection, "pushbutton", pushbutton_builtin, 0},
      {kGraphicsSection, "button", button_builtin, 0},
      {kGraphicsSection, "popupmenu", popupmenu_builtin, 0},
      {kGraphicsSection, "textfield", textfield_builtin, 0},
      {kGraphicsSection, "bodemag", response_builtin<&kCmdBodemag>, 0},
      {kGraphicsSection, "bodephase", response_builtin<&kCmdBodephase>, 0},
      {kGraphicsSection, "dbodemag", response_builtin<&kCmdDbodemag>, 0},
      {kGraphicsSection, "dbodephase", response_builtin<&kCmdDbodephase>, 0},
      {kGraphicsSection, "sigma", response_builtin<&kCmdSigma>, 0},
      {kGraphicsSection, "dsigma", response_builtin<&kCmdDsigma>, 0},
      {kGraphicsSection, "step", response_builtin<&kCmdStep>, 0},
      {kGraphicsSection, "dstep", response_builtin<&kCmdDstep>, 0},
      {kGraphicsSection, "impulse", response_builtin<&kCmdImpulse>, 0},
      {kGraphicsSection, "dimpulse", response_builtin<&kCmdDimpulse>, 0},
      {kGraphicsSection, "nyquist", response_builtin<&kCmdNyquist>, 0},
      {kGraphicsSection, "dnyquist", response_builtin<&kCmdDnyquist>, 0},
      {kGraphicsSection, "nichols", response_builtin<&kCmdNichols>, 0},
      {kGraphicsSection, "dnichols", response_builtin<&kCmdDnichols>, 0},
      {kGraphicsSection, "rlocus", response_builtin<&kCmdRlocus>, 0},
      {kGraphicsSection, "responseset", bi_option_set, reinterpret_cast<uintptr_t>(kResponseOptions)},
      {kGraphicsSection, "zgrid", grid_builtin<kCodeZgrid, kCodeZgridZeta, kCodeZgridWn>, 0},
      {kGraphicsSection, "sgrid", grid_builtin<kCodeSgrid, kCodeSgridRay, kCodeSgridCircle>, 0},
      {kGraphicsSection, "hgrid", grid_builtin<kCodeHgrid, -1, -1>, 0},
      {kGraphicsSection, "ngrid", grid_builtin<kCodeNgrid, -1, -1>, 0},
      {kGraphicsSection, "plotroots", plotroots_builtin, 0},
      {kGraphicsSection, "hstep", hstep_builtin, 0},
      {kGraphicsSection, "initial", initial_builtin<false>, 0},
      {kGraphicsSection, "dinitial", initial_builtin<true>, 0},
      {kGraphicsSection, "lsim", lsim_builtin<false>, 0},
      {kGraphicsSection, "dlsim", lsim_builtin<true>, 0},
  };
  TN_TRY(builtin_table_bind(g_builtin_table_engine, bindings, int(sizeof bindings / sizeof bindings[0])));
  return bind_event_values();
}
