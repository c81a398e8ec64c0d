// Installing, removing and serving the application's menus. Every
// installation starts by removing what the last one left, so installing
// twice leaves one copy. The walks end at the runtime's end-of-list answer
// or when their group holds kMenuGroupEntries entries (separators count).
#include "host/ui/app_menus.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>

#include "platform/command_map.h"
#include "platform/utf8_text.h"
#include "runtime/runtime_status.h"

namespace {

const QString kEdit = QStringLiteral("&Edit");
const QString kLayout = QStringLiteral("&Layout");
const QString kPlots = QStringLiteral("&Plots");
const QString kRemove = QStringLiteral("&Remove");
const QString kCopyAs = QStringLiteral("Copy As");
const QString kPasteAs = QStringLiteral("Paste As");
const QString kLanguage = QStringLiteral("Language");
const QString kSettings = QStringLiteral("Settings");
constexpr int32_t kCapabilityChooseLayout = 4;
constexpr int32_t kNoPlotRecord = -3;
constexpr int32_t kStateEnabled = 1, kStateChecked = 2;

QMenu* edit_menu(QMenuBar* bar) {
  const int at = menu_find_by_text(bar, kEdit);
  return at < 0 ? nullptr : bar->actions().at(at)->menu();
}

// Inserts w's item for menu at position (appended past the end).
void insert_menu_at(QWidget* w, int position, QMenu* menu) {
  const QList<QAction*> items = w->actions();
  QAction* before = position >= 0 && position < items.size() ? items.at(position) : nullptr;
  w->insertAction(before, menu->menuAction());
}

void delete_item(QWidget* w, int position) {
  QAction* a = w->actions().at(position);
  w->removeAction(a);
  if (QMenu* sub = a->menu())
    delete sub;  // takes its own item with it
  else if (a->parent() == w)
    delete a;
}

}  // namespace

int menu_find_by_text(QWidget* menu, const QString& text) {
  const QList<QAction*> items = menu->actions();
  for (int i = 0; i < items.size(); ++i)
    if (items.at(i)->text() == text) return i;
  return -1;
}

void menu_delete_by_text(QWidget* menu, const QString& text) {
  const int at = menu_find_by_text(menu, text);
  if (at >= 0) delete_item(menu, at);
}

void menu_delete_range(QWidget* menu, int from, const QString& text) {
  int end = menu_find_by_text(menu, text);
  if (end <= from) return;
  for (; end > from; --end) delete_item(menu, from);
}

QString menu_text_from_name(const char* name, int32_t length) {
  return cstring_from_bytes(name, utf8_cut_length(name, length, kMenuNameBytes));
}

int clipboard_put_text(const char* bytes, int32_t length) {
  QByteArray text;
  text.reserve(length > 0 ? length : 0);
  for (int32_t i = 0; i < length; ++i) {
    if (bytes[i] == '\r') {
      text.append('\n');  // CR LF and a bare CR both end one line
      if (i + 1 < length && bytes[i + 1] == '\n') ++i;
    } else {
      text.append(bytes[i]);
    }
  }
  auto* data = new QMimeData;
  data->setData(QStringLiteral("text/plain"), text);
  QGuiApplication::clipboard()->setMimeData(data);
  return 1;
}

bool clipboard_get_text(QByteArray* bytes) {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (!data || !data->hasText()) return false;
  *bytes = data->text().toUtf8();
  const qsizetype zero = bytes->indexOf('\0');
  if (zero >= 0) bytes->truncate(zero);
  // A handler takes the text whole, with a 32-bit length: a longer one is
  // no text it could take.
  return runtime_length_fits(bytes->size());
}

int32_t clipboard_hash(const QByteArray& bytes) {
  uint32_t h = 0;
  for (char c : bytes) h = ((h << 1) | (h >> 31)) ^ uint32_t(int32_t(static_cast<signed char>(c)));
  return int32_t(h);
}

// Every menu made here has its items' states computed when it is about to
// show, as the fixed menus have.
QMenu* AppMenus::new_menu(const QString& title, QWidget* parent) {
  auto* menu = new QMenu(title, parent);
  commands_->watch_menu(menu);
  return menu;
}

AppMenus::AppMenus(MenuRuntime* runtime, CommandMap* commands, int32_t instance_id)
    : rt_(runtime), commands_(commands), id_(instance_id) {
  clip_watch_ = QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged,
                                 [this] { clip_valid_ = false; });
}

AppMenus::~AppMenus() { QObject::disconnect(clip_watch_); }

const MenuCommandEntry* AppMenus::find(const std::vector<MenuCommandEntry>& t, int32_t number) {
  for (const MenuCommandEntry& e : t)
    if (e.command == number) return &e;
  return nullptr;
}

void AppMenus::remove(QMenuBar* bar) {
  // The menus of the last installation go by identity, so neither a missing
  // "F&igure" nor an application menu named like a fixed one leaves a copy
  // behind or takes a foreign menu with it. They leave the menu bar at once
  // but are deleted only from the event loop: a language chosen in the open
  // Language menu reinstalls the menus while that menu still handles the
  // click or key that chose it.
  QMenu* edit = bar ? edit_menu(bar) : nullptr;
  for (const QPointer<QMenu>& m : installed_) {
    if (!m) continue;
    if (bar) bar->removeAction(m->menuAction());
    if (edit) edit->removeAction(m->menuAction());
    m->deleteLater();
  }
  installed_.clear();
  table_.clear();
  plots_.clear();
  has_language_ = has_paste_ = has_copy_ = false;
}

void AppMenus::remove_layout(QMenuBar* bar) {
  if (rt_->has_block() && rt_->capability(id_, kCapabilityChooseLayout)) return;
  menu_delete_by_text(bar, kLayout);
}

// Items, separators and one level of submenus into popup; menu titles are
// not asked for here.
void AppMenus::walk_items(char kind, QMenu* popup, int32_t first, std::vector<MenuCommandEntry>* table) {
  int32_t cursor = -1, next = first, count = 0;
  QMenu* sub = nullptr;
  while (count < kMenuGroupEntries) {
    const char* name = nullptr;
    int32_t length = 0;
    bool submenu = false;
    if (rt_->next_record(id_, kind, &cursor, &name, &length, &submenu, nullptr) != 0) break;
    const bool named = name && length > 0;
    if (submenu) {
      if (named) {
        if (sub) popup->addMenu(sub);  // one level: an unclosed submenu ends here
        sub = new_menu(menu_text_from_name(name, length), popup);
      } else if (sub) {
        popup->addMenu(sub);
        sub = nullptr;
      }
      continue;
    }
    QMenu* target = sub ? sub : popup;
    if (named) {
      commands_->add_to_menu(target, next, menu_text_from_name(name, length));
      table->push_back({next++, cursor, kEntryMenuItem});
    } else {
      target->addSeparator();
      table->push_back({-1, -1, kEntryMenuItem});
    }
    ++count;
  }
  if (sub) popup->addMenu(sub);
}

void AppMenus::install_app_menus(QMenuBar* bar, int* insert_at, int32_t first) {
  int32_t cursor = -1, next = first, count = 0;
  QMenu* popup = nullptr;
  QMenu* sub = nullptr;
  bool has_entries = false;
  auto close_popup = [&] {
    if (sub) popup->addMenu(sub);
    sub = nullptr;
    if (!popup) return;
    if (has_entries) {
      insert_menu_at(bar, (*insert_at)++, popup);
      installed_.push_back(popup);
    } else {
      delete popup;  // a title with no entries never shows
    }
    popup = nullptr;
  };
  while (count < kMenuGroupEntries) {
    const char* name = nullptr;
    int32_t length = 0;
    bool submenu = false, title = false;
    if (rt_->next_record(id_, 'm', &cursor, &name, &length, &submenu, &title) != 0) break;
    const bool named = name && length > 0;
    if (title) {
      close_popup();
      popup = new_menu(menu_text_from_name(name, length), bar);
      has_entries = false;
      continue;
    }
    if (!popup) {
      popup = new_menu(kSettings, bar);
      has_entries = false;
    }
    if (submenu) {
      if (named) {
        if (sub) popup->addMenu(sub);
        sub = new_menu(menu_text_from_name(name, length), popup);
      } else if (sub) {
        popup->addMenu(sub);
        sub = nullptr;
      }
      continue;
    }
    QMenu* target = sub ? sub : popup;
    if (named) {
      commands_->add_to_menu(target, next, menu_text_from_name(name, length));
      table_.push_back({next++, cursor, kEntryMenuItem});
    } else {
      target->addSeparator();
      table_.push_back({-1, -1, kEntryMenuItem});
    }
    has_entries = true;
    ++count;
  }
  close_popup();
}

// The language ('l'), "Paste As" ('i') or "Copy As" ('e') submenu; null
// when nothing was added.
QMenu* AppMenus::list_menu(char kind, int32_t first, int32_t entry_kind, const QString& title) {
  QMenu* menu = new_menu(title, nullptr);
  int32_t cursor = -1, next = first, count = 0;
  while (count < kMenuGroupEntries) {
    const char* name = nullptr;
    int32_t length = 0;
    const int status = kind == 'l' ? rt_->next_language(id_, &cursor, &name, &length)
                                   : rt_->next_record(id_, kind, &cursor, &name, &length, nullptr, nullptr);
    if (status != 0) break;
    if (name && length > 0) {
      commands_->add_to_menu(menu, next, menu_text_from_name(name, length));
      table_.push_back({next++, cursor, entry_kind});
    } else {
      menu->addSeparator();
      table_.push_back({-1, -1, entry_kind});
    }
    ++count;
  }
  if (count == 0) {
    delete menu;
    return nullptr;
  }
  return menu;
}

void AppMenus::install(QMenuBar* bar, const MenuBases& bases) {
  remove(bar);
  const int edit_at = menu_find_by_text(bar, kEdit);
  int insert_at = edit_at >= 0 ? edit_at + 1 : int(bar->actions().size());
  if (!rt_->has_block()) return;
  install_app_menus(bar, &insert_at, bases.menu);

  QMenu* edit = edit_menu(bar);
  auto place = [&](QMenu* m, int position, bool* flag) {
    if (!m) return;
    *flag = true;
    if (edit) {
      m->setParent(edit, m->windowFlags());
      insert_menu_at(edit, position, m);
      installed_.push_back(m);
    } else {
      delete m;
    }
  };
  if (bases.language_position != 0)
    place(list_menu('l', bases.language, kEntryLanguage, kLanguage), bases.language_position, &has_language_);
  if (bases.copy_paste_position != 0) {
    place(list_menu('i', bases.paste, kEntryPasteAs, kPasteAs), bases.copy_paste_position, &has_paste_);
    place(list_menu('e', bases.copy, kEntryCopyAs, kCopyAs), bases.copy_paste_position, &has_copy_);
  }

  auto* plots = new QMenu(kPlots, bar);
  if (rt_->capability(id_, kCapabilityChooseLayout) && figure_context_menu(plots, bases.remove, bases.plot)) {
    insert_menu_at(bar, insert_at++, plots);
    installed_.push_back(plots);
  } else
    delete plots;
}

bool AppMenus::figure_context_menu(QMenu* popup, int32_t remove_number, int32_t plot_base) {
  commands_->watch_menu(popup);
  commands_->add_to_menu(popup, remove_number, kRemove);
  remove_number_ = remove_number;
  popup->addSeparator();
  plots_.clear();
  if (rt_->has_block()) walk_items('f', popup, plot_base + 1, &plots_);
  return !plots_.empty();
}

int AppMenus::command(int32_t number) {
  const MenuCommandEntry* e = find(table_, number);
  if (!e) return 0;
  if (!rt_->has_block()) return rt_->no_block_status();
  switch (e->kind) {
    case kEntryMenuItem:
      return rt_->menu_exec(id_, e->position);
    case kEntryPasteAs: {
      QByteArray text;
      if (!clipboard_get_text(&text)) return 0;
      return rt_->call_text_handler(id_, e->position, text.constData(), runtime_length(text.size()));
    }
    case kEntryCopyAs: {
      const char* text = nullptr;
      int32_t length = 0;
      const int status = rt_->record_call(id_, e->position, &text, &length);
      if (status != 0) return status;
      // Copied at once: the text holds only until the next record call.
      clipboard_put_text(text, length);
      return 0;
    }
    case kEntryLanguage:
      return rt_->set_language(id_, e->position);
    default:
      return 0;
  }
}

void AppMenus::read_clipboard() {
  clip_has_text_ = clipboard_get_text(&clip_);
  clip_hash_ = clip_has_text_ ? clipboard_hash(clip_) : 0;
  clip_valid_ = true;
}

void AppMenus::update(int32_t number, CommandState* st) {
  const MenuCommandEntry* e = find(table_, number);
  if (!e) return;
  int32_t state = 0;
  if (rt_->has_block()) {
    if (!clip_valid_) read_clipboard();
    state = clip_has_text_ ? rt_->menu_item_state(id_, e->position, clip_hash_, clip_.constData(),
                                                     runtime_length(clip_.size()))
                           : rt_->menu_item_state(id_, e->position, 0, nullptr, 0);
  }
  st->enable(state & kStateEnabled);
  st->set_check(state & kStateChecked ? kCheckOn : kCheckOff);
}

int AppMenus::plot_choose(int32_t number) {
  const MenuCommandEntry* e = find(plots_, number);
  if (!e) return 0;
  if (rt_->has_block()) {
    rt_->set_current_subplot(id_, e->position);
    rt_->refresh_after_change(id_);
  }
  return kRtHandledRedraw;
}

void AppMenus::plot_update(int32_t number, CommandState* st) {
  int32_t position;
  if (number == remove_number_) {
    position = kNoPlotRecord;
  } else {
    const MenuCommandEntry* e = find(plots_, number);
    if (!e) return;
    position = e->position;
  }
  const int32_t state = rt_->has_block() ? rt_->can_select_subplot(id_, position) : 0;
  st->enable(state & kStateEnabled);
  st->set_check(state & kStateChecked ? kCheckOn : kCheckOff);
}
