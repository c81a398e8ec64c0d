// The application's own menus in the menu bar: its menus between "&Edit" and
// "F&igure", the "Copy As", "Paste As" and "Language" submenus of "&Edit",
// the "&Plots" menu and the figure pop-up, with the dispatch and state of
// their commands, and data text through the clipboard. Each group of command
// numbers takes at most kMenuGroupEntries entries, so groups never collide.
#pragma once

#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include "host/ui/menu_runtime.h"

class CommandMap;
class CommandState;
class QMenu;
class QMenuBar;
class QWidget;

enum : int32_t { kEntryMenuItem = 0, kEntryPasteAs = 1, kEntryCopyAs = 2, kEntryLanguage = 3 };

struct MenuCommandEntry {
  int32_t command;   // -1 for a separator
  int32_t position;  // the runtime's cursor for the record; -1 for a separator
  int32_t kind;
};

constexpr int kMenuGroupEntries = 200;
constexpr int kMenuNameBytes = 60;

// The numbers and places the document passes.
struct MenuBases {
  int32_t menu = 11200, remove = 12000, plot = 12001;
  int32_t language_position = 8, language = 11400;
  int32_t copy_paste_position = 7, paste = 11600, copy = 11800;
};

// Items of a menu by their exact text (ampersands included); -1 when absent.
int menu_find_by_text(QWidget* menu, const QString& text);
void menu_delete_by_text(QWidget* menu, const QString& text);
// Deletes the items from position `from` up to, not including, `text`.
void menu_delete_range(QWidget* menu, int from, const QString& text);
// A runtime name as a menu text: at most 60 bytes, cut between characters.
QString menu_text_from_name(const char* name, int32_t length);

// Data text onto the clipboard as UTF-8 text/plain with LF line ends.
int clipboard_put_text(const char* bytes, int32_t length);
// The clipboard's plain text as bytes, up to the first zero byte; false when
// it holds no text.
bool clipboard_get_text(QByteArray* bytes);
// The hash the runtime compares to skip re-evaluating menu flags.
int32_t clipboard_hash(const QByteArray& bytes);

class AppMenus {
 public:
  // The kept clipboard text is forgotten whenever the clipboard changes.
  AppMenus(MenuRuntime* runtime, CommandMap* commands, int32_t instance_id);
  ~AppMenus();
  AppMenus(const AppMenus&) = delete;
  AppMenus& operator=(const AppMenus&) = delete;

  void install(QMenuBar* bar, const MenuBases& bases);  // removes the old ones first
  void remove(QMenuBar* bar);
  // Removes "&Layout" unless the runtime lets the user choose the layout.
  void remove_layout(QMenuBar* bar);
  // Fills pop-up with "&Remove", a separator and the plot entries; true when
  // a plot entry or separator was added.
  bool figure_context_menu(QMenu* popup, int32_t remove_number, int32_t plot_base);

  int command(int32_t number);
  void update(int32_t number, CommandState* state);
  int plot_choose(int32_t number);
  void plot_update(int32_t number, CommandState* state);
  // Forgets the kept clipboard text: it is read again at the next update.
  void clipboard_changed() { clip_valid_ = false; }

  const std::vector<MenuCommandEntry>& entries() const { return table_; }
  const std::vector<MenuCommandEntry>& plots() const { return plots_; }

 private:
  void install_app_menus(QMenuBar* bar, int* insert_at, int32_t first);
  void walk_items(char kind, QMenu* popup, int32_t first, std::vector<MenuCommandEntry>* table);
  QMenu* list_menu(char kind, int32_t first, int32_t entry_kind, const QString& title);
  QMenu* new_menu(const QString& title, QWidget* parent);
  static const MenuCommandEntry* find(const std::vector<MenuCommandEntry>& t, int32_t number);
  void read_clipboard();

  MenuRuntime* rt_;
  CommandMap* commands_;
  int32_t id_;
  std::vector<MenuCommandEntry> table_, plots_;
  bool has_language_ = false, has_paste_ = false, has_copy_ = false;
  int32_t remove_number_ = -1;
  QByteArray clip_;
  int32_t clip_hash_ = 0;
  bool clip_has_text_ = false, clip_valid_ = false;
  QMetaObject::Connection clip_watch_;
  // What the last installation put into the menu bar and the Edit menu.
  std::vector<QPointer<QMenu>> installed_;
};
