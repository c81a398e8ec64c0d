// The value dialog and message boxes behind the runtime's "dialog" built-in,
// and the Qt dialogs installed as the program's dialog service. Texts cross
// as UTF-8 both ways; an edited value is cut at a character boundary.
#pragma once

#include <QDialog>
#include <QString>

#include "platform/dialog_service.h"
#include "runtime/runtime_block.h"

class QLabel;
class QPlainTextEdit;

// The modal value dialog: a prompt (control 130) above a multi-line value
// (control 131), then Cancel and the default OK.
class InputDialog : public QDialog {
 public:
  InputDialog(QWidget* parent, const QString& title, const QString& prompt, const QString& value);
  QString value() const;
  QPlainTextEdit* value_edit() const { return edit_; }
  QLabel* prompt_label() const { return prompt_; }

 private:
  QLabel* prompt_;
  QPlainTextEdit* edit_;
};

// The host's answer to a dialog request, through the installed dialog
// service. With a value buffer: true on OK, the edited value then written
// back as UTF-8 (at most the buffer's size, never half a character) and its
// length stored; on Cancel buffer and length are left alone. Without one: a
// message box with the prompt as text and the title as caption; true only
// when it asked OK or Cancel and the user chose OK.
bool input_dialog_run(const DialogRequest& request);

// The real dialogs: InputDialog and message boxes, file dialogs of Qt.
class QtDialogService final : public DialogService {
 public:
  bool message(QWidget* owner, const QString& title, const QString& text, bool ok_cancel) override;
  bool edit_value(const QString& title, const QString& prompt, QString* value) override;
  QString open_file(QWidget* owner, const QString& caption, const QString& filter) override;
  QString save_file(QWidget* owner, const QString& caption, const QString& filter, const QString& name) override;
};
