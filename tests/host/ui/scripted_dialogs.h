// A dialog service that answers from a script and records what it was asked.
#pragma once

#include <QString>
#include <QStringList>

#include "platform/dialog_service.h"

class ScriptedDialogs final : public DialogService {
 public:
  ScriptedDialogs() { previous_ = dialog_service_set(this); }
  ~ScriptedDialogs() override { dialog_service_set(previous_); }

  bool answer_ok = true;
  QString edited;  // the value the user types, when set
  bool has_edit = false;
  QStringList asked;  // "message|title|text|okcancel" or "value|title|prompt|value"

  void type(const QString& v) { edited = v; has_edit = true; }
  bool message(QWidget*, const QString& title, const QString& text, bool ok_cancel) override {
    asked << QStringLiteral("message|%1|%2|%3").arg(title, text).arg(int(ok_cancel));
    return answer_ok;
  }
  bool edit_value(const QString& title, const QString& prompt, QString* value) override {
    asked << QStringLiteral("value|%1|%2|%3").arg(title, prompt, *value);
    if (answer_ok && has_edit) *value = edited;
    return answer_ok;
  }
  QString chosen;  // the path a file dialog answers ("" cancels)
  QString open_file(QWidget*, const QString& caption, const QString& filter) override {
    asked << QStringLiteral("open|%1|%2").arg(caption, filter);
    return chosen;
  }
  QString save_file(QWidget*, const QString& caption, const QString& filter, const QString& name) override {
    asked << QStringLiteral("save|%1|%2|%3").arg(caption, filter, name);
    return chosen;
  }

 private:
  DialogService* previous_;
};
