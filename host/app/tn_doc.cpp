// The document's command map. Without a runtime block every update handler
// disables its item and the commands only update the views. Calls into the
// runtime hold the depth counter, which is released before a message box
// opens its nested event loop.
#include "host/app/tn_doc.h"

#include <QMenuBar>

#include "host/app/error_text.h"
#include "host/app/runtime_depth.h"
#include "host/ui/text_frame.h"
#include "platform/command_map.h"
#include "platform/dialog_service.h"
#include "platform/settings_store.h"
#include "platform/utf8_text.h"
#include "runtime/runtime_status.h"

namespace {

constexpr int32_t kScaleLogX = 1, kScaleLogY = 2, kScaleDbY = 16;
constexpr int32_t kScaleMask = kScaleLogX | kScaleLogY | kScaleDbY;
constexpr int32_t kScaleBits[] = {kScaleLogX, kScaleLogY, kScaleDbY};
constexpr int32_t kOptionBits[] = {0x8000, 0x100000, 0x10000, 0x20000};  // frame, margin, label, legend
constexpr int32_t kGridBits[] = {0x1000, 0x2000, 0x4000};                // none, basic, full
constexpr int32_t kGridMask = 0x6000;
constexpr int32_t kAxisGridBits[] = {0x4, 0x40, 0x400};                  // x, y, z
constexpr int32_t kLayouts[][2] = {{1, 1}, {1, 2}, {2, 1}, {2, 2}, {2, 3}, {2, 4}, {3, 3}, {3, 4}, {4, 4}};
constexpr int32_t kNoPlot = -1;
constexpr int32_t kManipulate = 1;
constexpr char kFirstCaptionAbout[] = "About TN File";
constexpr char kFirstCaptionHelp[] = "TN File Help";

void set_bit_check(CommandState* st, const SubplotBits& b, int32_t bit) {
  st->enable(b.allowed & bit);
  st->set_check(b.differing & bit ? kCheckIndeterminate : (b.values & bit ? kCheckOn : kCheckOff));
}

}  // namespace

TNDoc::TNDoc(DocRuntime* runtime, CommandMap* commands, std::function<QMenuBar*()> menu_bar,
             std::function<void()> update_views, QWidget* owner)
    : rt_(runtime), commands_(commands), menu_bar_(std::move(menu_bar)), update_views_(std::move(update_views)),
      owner_(owner), menus_(runtime, commands, 0) {
  route_commands();
}

TNDoc::~TNDoc() = default;

void TNDoc::report(int status, const char* fallback) {
  std::string text = rt_->has_block() ? error_text_for_display(rt_->engine(), status) : std::string();
  if (text.empty()) text = fallback;
  dialog_service()->message(owner_, QString(), cstring_from_bytes(text.data(), int32_t(text.size())), false);
}

void TNDoc::route_commands() {
  CommandMap& m = *commands_;
  DocRuntime& rt = *rt_;
  const int32_t id = id_;
  auto block = [&rt] { return rt.has_block(); };
  auto views = [this] { if (update_views_) update_views_(); };

  m.route(kCmdReset, kCmdReset, [this, &rt, id, views](int) {
    int status;
    {
      RuntimeCallScope scope;
      status = rt.has_block() ? rt.reset(id) : rt.no_block_status();
      if (status == 0) rt.refresh_after_change(id);
    }
    if (status == 0) views(); else report(status, "Reset error");
  }, [&rt, id, block](int, CommandState* st) { st->enable(block() && rt.instance_known(id)); });

  m.route(kCmdAbout, kCmdHelp, [this](int c) { show_text_window(c == kCmdHelp); },
          [this, &rt, id, block](int c, CommandState* st) {
            const bool help = c == kCmdHelp;
            st->set_text(window_caption(help));
            const char* text = nullptr;
            int32_t n = 0;
            st->enable(block() && (help ? rt.get_help(id, &text, &n) : rt.get_version(id, &text, &n)) == 0);
          });

  m.route(kCmdAppFirst, kCmdAppLast, [this](int c) { app_command(c); },
          [this](int c, CommandState* st) { RuntimeCallScope scope; menus_.update(c, st); });

  m.route(kCmdPlotRemove, kCmdPlotLast, [this, &rt, id, views](int c) {
    int status;
    {
      RuntimeCallScope scope;
      if (c == kCmdPlotRemove) {
        if (rt.has_block()) rt.set_current_subplot(id, kNoPlot);
        status = kRtHandledRedraw;
      } else {
        status = menus_.plot_choose(c);
      }
    }
    if (status == kRtHandledRedraw) views();
    else if (status != 0) report(status, "Choose Plot error");
  }, [this](int c, CommandState* st) { menus_.plot_update(c, st); });

  // Leaving manipulate may run leave handlers that redraw; the tool alone
  // changes nothing drawn, and a large figure takes long to draw again.
  m.route(kCmdToolFirst, kCmdToolLast, [&rt, block, views](int c) {
    if (block() && rt.set_tool_mode(c - kCmdToolFirst + 1) != 0) views();
  },
          [&rt, id, block](int c, CommandState* st) {
            st->enable(block() && rt.takes_mouse(id));
            st->set_radio((block() ? rt.tool_mode() : kManipulate) == c - kCmdToolFirst + 1);
          });

  m.route(kCmdLockedScale, kCmdLockedScale, [&rt, id, block, views](int) { if (block()) rt.subplots_apply(id); views(); },
          [&rt, id, block](int, CommandState* st) {
            if (!block()) return st->enable(false);
            st->enable(rt.selection_has_plot(id));
            bool differs = false;
            const bool locked = rt.subplot_query(id, &differs);
            st->set_check(differs ? kCheckIndeterminate : (locked ? kCheckOn : kCheckOff));
          });

  m.route(kCmdLogX, kCmdDbY, [&rt, id, block, views](int c) {
    if (block()) {
      const SubplotBits b = rt.scale_flags(id);
      rt.set_scale_flags(id, kScaleMask, b.values ^ kScaleBits[c - kCmdLogX]);
    }
    views();
  }, [&rt, id, block](int c, CommandState* st) {
    if (!block()) return st->enable(false);
    set_bit_check(st, rt.scale_flags(id), kScaleBits[c - kCmdLogX]);
  });

  m.route(kCmdPerspective, kCmdAutoUpVector, [&rt, id, block, views](int c) {
    if (block()) {
      const int k = c - kCmdPerspective;
      rt.set_subplot_option(id, k, !rt.subplot_options(id).value[k]);
    }
    views();
  }, [&rt, id, block](int c, CommandState* st) {
    if (!block()) return st->enable(false);
    const SubplotOptions o = rt.subplot_options(id);
    const int k = c - kCmdPerspective;
    st->enable(o.apply);
    st->set_check(o.differs[k] ? kCheckIndeterminate : (o.value[k] ? kCheckOn : kCheckOff));
  });

  auto toggle_bit = [&rt, id, block, views](int32_t bit) {
    if (block()) rt.set_subplot_props(id, bit, ~rt.subplot_props(id).values);
    views();
  };
  m.route(kCmdFrame, kCmdLegend, [toggle_bit](int c) { toggle_bit(kOptionBits[c - kCmdFrame]); },
          [&rt, id, block](int c, CommandState* st) {
            if (!block()) return st->enable(false);
            set_bit_check(st, rt.subplot_props(id), kOptionBits[c - kCmdFrame]);
          });
  m.route(kCmdXGrid, kCmdZGrid, [toggle_bit](int c) { toggle_bit(kAxisGridBits[c - kCmdXGrid]); },
          [&rt, id, block](int c, CommandState* st) {
            if (!block()) return st->enable(false);
            set_bit_check(st, rt.subplot_props(id), kAxisGridBits[c - kCmdXGrid]);
          });
  m.route(kCmdGridNone, kCmdGridFull, [&rt, id, block, views](int c) {
    // "None" sets neither bit of the mask.
    if (block()) rt.set_subplot_props(id, kGridMask, c == kCmdGridNone ? 0 : kGridBits[c - kCmdGridNone]);
    views();
  }, [&rt, id, block](int c, CommandState* st) {
    if (!block()) return st->enable(false);
    const SubplotBits b = rt.subplot_props(id);
    const int32_t bit = kGridBits[c - kCmdGridNone];
    st->enable(b.allowed & bit);
    st->set_radio((b.differing | b.values) & bit);
  });

  m.route(kCmdDebug, kCmdDebug, [&rt, id, block](int) { if (block()) rt.set_debug_flag(id, !rt.debug_flag(id)); },
          [&rt, id, block](int, CommandState* st) {
            st->enable(block() && rt.instance_known(id));
            st->set_check(block() && rt.debug_flag(id) ? kCheckOn : kCheckOff);
          });
  m.route(kCmdIdle, kCmdIdle, [&rt, id, block](int) { if (block()) rt.mark_state(id, !rt.idle_running(id)); },
          [&rt, id, block](int, CommandState* st) {
            st->enable(block() && rt.has_idle_handler(id));
            st->set_check(block() && rt.idle_running(id) ? kCheckOn : kCheckOff);
          });

  m.route(kCmdLayoutFirst, kCmdLayoutFixed, [&rt, id, block, views](int c) {
    if (block()) {
      if (c <= kCmdLayoutLast) rt.set_grid(id, kLayouts[c - kCmdLayoutFirst][0], kLayouts[c - kCmdLayoutFirst][1]);
      else rt.free_layout(id, c == kCmdLayoutFixed);
    }
    views();
  }, [&rt, id, block](int c, CommandState* st) {
    if (!block()) return st->enable(false);
    st->enable(rt.has_any_handler(id));
    bool absolute = false;
    const bool free = rt.layout_is_free(id, &absolute);
    if (c > kCmdLayoutLast) return st->set_radio(free && absolute == (c == kCmdLayoutFixed));
    int32_t rows = 0, columns = 0;
    rt.get_grid(id, &rows, &columns);
    st->set_radio(!free && rows == kLayouts[c - kCmdLayoutFirst][0] && columns == kLayouts[c - kCmdLayoutFirst][1]);
  });
}

void TNDoc::app_command(int number) {
  int status;
  {
    RuntimeCallScope scope;
    status = menus_.command(number);
  }
  if (status == 0) return;
  if (status == kRtHandledRedraw) {
    if (update_views_) update_views_();
    return;
  }
  if (status == kRtSectionChanged) {
    if (update_views_) update_views_();
    install_menus(false);
    refresh_title();
    if (about_) set_text_window(about_.get(), false, true);
    if (help_) set_text_window(help_.get(), true, true);
    return;
  }
  report(status, "Menu error");
}

void TNDoc::install_menus(bool remove_layout) {
  QMenuBar* bar = menu_bar_ ? menu_bar_() : nullptr;
  if (!bar) return;
  RuntimeCallScope scope;
  menus_.install(bar, MenuBases{});
  if (remove_layout) menus_.remove_layout(bar);
  bar->update();
}

void TNDoc::remove_menus() {
  QMenuBar* bar = menu_bar_ ? menu_bar_() : nullptr;
  if (!bar) return;
  menus_.remove(bar);
  bar->update();
}

void TNDoc::refresh_title() {
  const char* text = nullptr;
  int32_t n = 0;
  if (rt_->has_block() && rt_->get_title(id_, &text, &n) == 0)
    title_ = cstring_from_bytes(text, n).left(kTitleChars);  // copied at once
  else
    title_ = default_title_;
  if (title_listener_) title_listener_(title_);
}

void TNDoc::take_instance_title() {
  const char* text = nullptr;
  int32_t n = 0;
  if (!rt_->has_block() || rt_->get_title(id_, &text, &n) != 0) return;
  if (title_listener_) title_listener_(cstring_from_bytes(text, n).left(kTitleChars));
}

QString TNDoc::window_caption(bool help) const {
  if (title_.isEmpty()) return QString::fromLatin1(help ? kFirstCaptionHelp : kFirstCaptionAbout);
  return help ? title_ + QStringLiteral(" Help") : QStringLiteral("About ") + title_;
}

void TNDoc::set_text_window(TextFrame* frame, bool help, bool fetch) {
  textframe_set_title(frame, window_caption(help));
  if (!fetch) return;
  const char* text = nullptr;
  int32_t n = 0;
  const int status = !rt_->has_block() ? rt_->no_block_status()
                     : help            ? rt_->get_help(id_, &text, &n)
                                       : rt_->get_version(id_, &text, &n);
  if (status == 0)
    textframe_set_text(frame, cstring_from_bytes(text, n), false);
  else
    textframe_hide(frame);
}

void TNDoc::show_text_window(bool help) {
  std::unique_ptr<TextFrame>& w = help ? help_ : about_;
  if (!w) {
    w = std::make_unique<TextFrame>(QString::fromLatin1(help ? kFirstCaptionHelp : kFirstCaptionAbout), true, true,
                                    true, false, false, owner_);
    set_text_window(w.get(), help, true);
  }
  textframe_restore(w.get());
}

void TNDoc::idle_check() {
  if (host_runtime_busy() || !rt_->has_block()) return;
  int status;
  {
    RuntimeCallScope scope;
    if (!rt_->changed_flag(id_)) return;
    status = rt_->refresh_after_change(id_);
  }
  if ((status == 0 || status == kRtHandledRedraw) && update_views_) update_views_();
}

void TNDoc::write_number_format(SettingsStore* settings) {
  char letter = 'g', imaginary = 'j';
  int32_t digits = 4;
  bool loose = false;
  if (rt_->has_block()) rt_->number_format(&letter, &digits, &imaginary, &loose);
  settings->write_string(QStringLiteral("FormatType"), QString(QLatin1Char(letter)));
  settings->write_int(QStringLiteral("FormatNDigits"), digits);
  settings->write_string(QStringLiteral("FormatImagSymbol"), QString(QLatin1Char(imaginary)));
  settings->write_int(QStringLiteral("FormatLoose"), loose ? 1 : 0);
}
