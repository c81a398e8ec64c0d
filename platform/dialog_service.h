// The modal dialogs the host opens, behind one replaceable service: the
// program installs the Qt dialogs at start-up, tests install scripted
// answers. Until one is installed every dialog answers Cancel.
#pragma once

#include <QString>

class QWidget;

class DialogService {
 public:
  virtual ~DialogService() = default;
  // A message box; with ok_cancel it has OK and Cancel, else OK only.
  // True when the user chose OK.
  virtual bool message(QWidget* owner, const QString& title, const QString& text, bool ok_cancel) = 0;
  // The value dialog: true when the user ended with OK, *value then edited.
  virtual bool edit_value(const QString& title, const QString& prompt, QString* value) = 0;
  // File dialogs (Qt filters): the chosen path, empty when cancelled. Open
  // wants an existing file; save proposes `name` and confirms an overwrite.
  virtual QString open_file(QWidget* owner, const QString& caption, const QString& filter) = 0;
  virtual QString save_file(QWidget* owner, const QString& caption, const QString& filter, const QString& name) = 0;
};

DialogService* dialog_service();
// Installs service (null restores the Cancel-only one); returns the previous.
DialogService* dialog_service_set(DialogService* service);
