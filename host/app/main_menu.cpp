// The fixed menus: texts and order as the user sees them, each item the
// command map's action for its number, so one action serves the menu, the
// tool bar and the context menu, and a shortcut goes through the same
// enabled check as a click.
#include "host/app/main_menu.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

#include "host/app/tn_doc.h"
#include "platform/command_map.h"

namespace {

struct Item {
  int command;  // 0: separator
  const char* text;
  bool shortcut;  // the key after the tab is a real shortcut
};

void add_items(QMenu* menu, CommandMap* commands, std::initializer_list<Item> items) {
  for (const Item& it : items) {
    if (it.command == 0) {
      menu->addSeparator();
      continue;
    }
    command_set_text_and_shortcut(commands, it.command, QString::fromUtf8(it.text), it.shortcut);
    menu->addAction(commands->action(it.command));
  }
}

QMenu* add_menu(QWidget* parent_menu_or_bar, const char* title, CommandMap* commands) {
  QMenu* m = nullptr;
  if (auto* bar = qobject_cast<QMenuBar*>(parent_menu_or_bar)) m = bar->addMenu(QString::fromUtf8(title));
  else m = static_cast<QMenu*>(parent_menu_or_bar)->addMenu(QString::fromUtf8(title));
  commands->watch_menu(m);
  return m;
}

void add_figure_options(QMenu* m, CommandMap* commands) {
  add_items(m, commands, {{kCmdLockedScale, "&Locked Scale", false},
                          {kCmdLogX, "Log &X", false},
                          {kCmdLogY, "Log &Y", false},
                          {kCmdDbY, "d&B Y", false},
                          {0, nullptr, false},
                          {kCmdPerspective, "&Perspective", false}});
  add_items(add_menu(m, "&Automatic View", commands), commands,
            {{kCmdPerspective + 1, "&Target", false}, {kCmdPerspective + 2, "&View Point", false},
             {kCmdAutoUpVector, "&Up Vector", false}});
  add_items(add_menu(m, "&Options", commands), commands,
            {{kCmdFrame, "&Frame", false}, {kCmdFrame + 1, "&Margin", false}, {kCmdFrame + 2, "&Label", false},
             {kCmdLegend, "L&egend", false}});
  add_items(add_menu(m, "&Grid", commands), commands,
            {{kCmdGridNone, "&None", false}, {kCmdGridNone + 1, "&Basic", false}, {kCmdGridFull, "&Full", false},
             {0, nullptr, false}, {kCmdXGrid, "&X Grid", false}, {kCmdXGrid + 1, "&Y Grid", false},
             {kCmdZGrid, "&Z Grid", false}});
}

}  // namespace

void command_set_text_and_shortcut(CommandMap* commands, int command, const QString& text, bool shortcut) {
  QAction* a = commands->action(command);
  const qsizetype tab = text.indexOf(QLatin1Char('\t'));
  a->setText(text);
  if (shortcut && tab >= 0) {
    // The menu shows the key from the shortcut itself: the text keeps only
    // what comes before the tab.
    a->setText(text.left(tab));
    a->setShortcut(QKeySequence::fromString(text.mid(tab + 1)));
  }
}

void main_menu_build(QMenuBar* bar, CommandMap* commands) {
  // Ctrl+N is shown beside Reset Data but no key is bound to it.
  add_items(add_menu(bar, "&File", commands), commands,
            {{kCmdReset, "&Reset Data\tCtrl+N", false},
             {0, nullptr, false},
             {kCmdFilePrint, "&Print...\tCtrl+P", true},
             {kCmdFilePrintPreview, "Print Pre&view", false},
             {kCmdFilePageSetup, "Page Setup...", false},
             {0, nullptr, false},
             {kCmdAppExit, "E&xit\tAlt+F4", true}});
  QMenu* edit = add_menu(bar, "&Edit", commands);
  add_items(edit, commands,
            {{kCmdEditUndo, "&Undo\tCtrl+Z", true},
             {kCmdEditRedo, "&Redo\tCtrl+Shift+Z", true},
             {0, nullptr, false},
             {kCmdEditCopy, "&Copy\tCtrl+C", true},
             {kCmdEditSelectAll, "Select A&ll\tCtrl+A", true},
             {0, nullptr, false}});
  add_items(add_menu(edit, "&Preferences", commands), commands,
            {{kCmdPrefHighlight, "&Interactive Figure Highlight", false},
             {kCmdPrefThickLines, "&Thick Lines", false},
             {kCmdPrefBackground, "&Background Color...", false},
             {kCmdFigureFont, "Figure &Font...", false}});
  QMenu* figure = add_menu(bar, "F&igure", commands);
  add_items(figure, commands,
            {{kCmdToolFirst, "&Manipulate\tCtrl+1", true},
             {kCmdToolFirst + 1, "&Zoom\tCtrl+2", true},
             {kCmdToolFirst + 2, "Zoom X-&axis\tCtrl+3", true},
             {kCmdToolFirst + 3, "&Drag\tCtrl+4", true},
             {kCmdToolLast, "&Select\tCtrl+5", true},
             {0, nullptr, false}});
  add_figure_options(figure, commands);
  add_items(figure, commands, {{0, nullptr, false}, {kCmdIdle, "&Idle Processing", false}});
  add_items(add_menu(bar, "&Layout", commands), commands,
            {{kCmdLayoutFirst, "1 x 1", false},     {kCmdLayoutFirst + 1, "1 x 2", false},
             {kCmdLayoutFirst + 2, "2 x 1", false}, {kCmdLayoutFirst + 3, "2 x 2", false},
             {kCmdLayoutFirst + 4, "2 x 3", false}, {kCmdLayoutFirst + 5, "2 x 4", false},
             {kCmdLayoutFirst + 6, "3 x 3", false}, {kCmdLayoutFirst + 7, "3 x 4", false},
             {kCmdLayoutLast, "4 x 4", false},      {0, nullptr, false},
             {kCmdLayoutFree, "&Free", false},      {kCmdLayoutFixed, "F&ixed Size", false}});
  add_items(add_menu(bar, "&Help", commands), commands,
            {{kCmdHelp, "TN File Help\tF1", true},
             {0, nullptr, false},
             {kCmdAppAbout, "&About This Application...", false},
             {kCmdWebPage, "Tarnivel on the &Web", false}});
}

QMenu* figure_options_menu(CommandMap* commands, QWidget* owner) {
  QMenu* m = new QMenu(owner);
  commands->watch_menu(m);
  add_figure_options(m, commands);
  return m;
}
