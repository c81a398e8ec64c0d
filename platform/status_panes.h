// A status bar of numbered text panes, as the main frame lays it out: pane 0
// takes the free width (command help), the others are fixed indicators.
#pragma once

#include <vector>

#include <QStatusBar>
#include <QString>

class QLabel;

class StatusPanes : public QStatusBar {
 public:
  StatusPanes(int pane_count, QWidget* parent = nullptr);
  int pane_count() const { return int(panes_.size()); }
  // Sets and repaints at once (the engine may keep the event loop from
  // running for a while). Out-of-range panes are ignored.
  void set_pane_text(int pane, const QString& text);
  QString pane_text(int pane) const;

 private:
  std::vector<QLabel*> panes_;
};
