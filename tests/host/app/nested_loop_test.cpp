// A built-in that opens the real value dialog from inside the engine, the
// dialog closed by a timer: timers that fire in the dialog's event loop see
// the runtime busy and skip it, and afterwards the depth is back to zero.
#include <gtest/gtest.h>

#include <string>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>

#include "engine/core/interp.h"
#include "engine/core/status.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/builtin_tables.h"
#include "host/app/runtime_depth.h"
#include "host/app/runtime_host.h"
#include "host/ui/input_dialog.h"

namespace {

constexpr int32_t kBytes = 4 << 20;

std::string g_value;
int bi_ask_value(EngineContext* ctx, int, int, uintptr_t data) {
  RuntimeBlock* b = reinterpret_cast<CallContext*>(data)->block;
  char buffer[16] = "12";
  int32_t length = 2;
  const DialogRequest r{"Title", 5, "Value?", 6, buffer, int32_t(sizeof buffer), &length, 0};
  const int32_t ok = b->h.dialog.fn(&r, b->h.dialog.context);
  g_value.assign(buffer, size_t(length));
  return stk_push_real(ctx, ok);
}
BuiltinEntry g_rows[] = {builtin_row("askvalue_", 0, 0, 0, 1, 0, 0, bi_ask_value), {}};

TEST(NestedLoop, DialogFromAHandlerSkipsTheRuntimeInTimers) {
  QtDialogService qt_dialogs;
  DialogService* previous = dialog_service_set(&qt_dialogs);
  AppRuntimeHost h(kBytes, kBytes, 0, 2);
  ASSERT_TRUE(h.has_block());
  ASSERT_EQ(rt_register_library(h.block(), g_rows), 0);

  // The engine tick as the main frame runs it: skipped while busy.
  int ran = 0, skipped = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (host_runtime_busy()) { ++skipped; return; }
    ++ran;
    rt_engine_tick(h.block());
  });
  tick.start(1);
  // Closes the dialog once some ticks have fired inside its loop.
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (skipped < 3) return;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* dlg = dynamic_cast<InputDialog*>(w); dlg && dlg->isVisible()) {
        dlg->value_edit()->setPlainText(QStringLiteral("\u00e9"));
        dlg->accept();
      }
  });
  closer.start(5);

  EngineContext* c = rt_engine(h.block());
  const std::string text = "r_ = askvalue_();\n";
  int status;
  {
    RuntimeCallScope scope;
    status = exec_command_line(c, text.data(), int32_t(text.size()), 0);
    if (status == kSliceEnded) status = interp_run(c, 0);
  }
  EXPECT_EQ(status, kOk);
  EXPECT_EQ(g_value, "\xC3\xA9");
  EXPECT_GE(skipped, 3);
  EXPECT_EQ(host_runtime_depth(), 0);
  closer.stop();
  // Idle processing goes on afterwards.
  const int before = ran;
  while (ran < before + 2) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  EXPECT_EQ(host_runtime_depth(), 0);
  dialog_service_set(previous);
}

}  // namespace
