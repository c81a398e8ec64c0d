// Status panes as labels in the status bar; pane 0 stretches.
#include "platform/status_panes.h"

#include <QLabel>

namespace {
constexpr int kIndicatorMinWidth = 80;
}

StatusPanes::StatusPanes(int pane_count, QWidget* parent) : QStatusBar(parent) {
  for (int i = 0; i < pane_count; ++i) {
    auto* label = new QLabel(this);
    if (i == 0) {
      addWidget(label, 1);
    } else {
      label->setMinimumWidth(kIndicatorMinWidth);
      addPermanentWidget(label);
    }
    panes_.push_back(label);
  }
}

void StatusPanes::set_pane_text(int pane, const QString& text) {
  if (pane < 0 || pane >= pane_count()) return;
  panes_[size_t(pane)]->setText(text);
  panes_[size_t(pane)]->repaint();
}

QString StatusPanes::pane_text(int pane) const {
  return pane >= 0 && pane < pane_count() ? panes_[size_t(pane)]->text() : QString();
}
