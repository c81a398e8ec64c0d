// The main window's fixed menus and the figure's context menu, with the
// command numbers the document, the view and the application object route.
// The application's own menus are inserted between "&Edit" and "F&igure" by
// the document; "&Edit" has exactly seven fixed items so that the "Paste
// As", "Copy As" and "Language" submenus land at positions 7 and 8.
#pragma once

#include <QString>

class CommandMap;
class QMenu;
class QMenuBar;
class QWidget;

enum : int {
  kCmdFilePrint = 57607, kCmdFilePrintPreview = 57609, kCmdFilePageSetup = 57606, kCmdAppExit = 57665,
  kCmdEditCopy = 57634, kCmdEditSelectAll = 57642, kCmdEditUndo = 57643, kCmdEditRedo = 57644,
  kCmdAppAbout = 57664,
  kCmdPrefHighlight = 10108, kCmdPrefThickLines = 10109, kCmdFigureFont = 10110, kCmdPrefBackground = 10111,
  kCmdHelpPage = 10211, kCmdWebPage = 10214,
};

// Fills bar with "&File", "&Edit", "F&igure", "&Layout" and "&Help"; every
// item's action comes from commands, so states and dispatch are the map's.
void main_menu_build(QMenuBar* bar, CommandMap* commands);
// The figure options of the context menu (Locked Scale to Grid), parented to
// owner.
QMenu* figure_options_menu(CommandMap* commands, QWidget* owner);
// "&Undo\tCtrl+Z" -> the text before the tab and, as a real shortcut, the key
// after it.
void command_set_text_and_shortcut(CommandMap* commands, int command, const QString& text, bool shortcut = true);
