// The value dialog, the dialog request and the Qt dialog service. Nothing is
// written to the caller's buffer unless the user ended with OK.
#include "host/ui/input_dialog.h"

#include <algorithm>
#include <cstring>

#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/utf8_text.h"

namespace {

// The dialog's fixed size: 240 by 102 dialog units at the usual 1.5 and
// 1.625 pixels a unit.
constexpr int kDialogWidth = 360, kDialogHeight = 166;
constexpr int kPromptId = 130, kValueId = 131;

}  // namespace

InputDialog::InputDialog(QWidget* parent, const QString& title, const QString& prompt, const QString& value)
    : QDialog(parent) {
  setWindowTitle(title);
  prompt_ = new QLabel(prompt, this);
  prompt_->setObjectName(QString::number(kPromptId));
  prompt_->setWordWrap(true);
  edit_ = new QPlainTextEdit(value, this);
  edit_->setObjectName(QString::number(kValueId));
  edit_->setTabChangesFocus(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cancel);
  buttons->addWidget(ok);
  auto* box = new QVBoxLayout(this);
  box->addWidget(prompt_);
  box->addWidget(edit_);
  box->addLayout(buttons);
  setFixedSize(kDialogWidth, kDialogHeight);
  edit_->setFocus();
}

QString InputDialog::value() const { return edit_->toPlainText(); }

bool input_dialog_run(const DialogRequest& r) {
  const QString title = cstring_from_bytes(r.title, r.title_length);
  const QString prompt = cstring_from_bytes(r.prompt, r.prompt_length);
  DialogService* service = dialog_service();
  if (!r.text) {
    const bool ok = service->message(QApplication::activeWindow(), r.title_length > 0 ? title : QString(),
                                     prompt, r.ask_ok_cancel != 0);
    return r.ask_ok_cancel != 0 && ok;
  }
  const int32_t capacity = std::max<int32_t>(r.text_capacity, 0);
  const int32_t initial = r.text_length ? std::clamp<int32_t>(*r.text_length, 0, capacity) : 0;
  QString value = cstring_from_bytes(r.text, initial);
  if (!service->edit_value(title, prompt, &value)) return false;
  const QByteArray bytes = cstring_to_bytes(value);
  const int32_t n = utf8_cut_length(bytes.constData(), runtime_length(bytes.size()), capacity);
  std::memcpy(r.text, bytes.constData(), size_t(n));
  if (r.text_length) *r.text_length = n;
  return true;
}

bool QtDialogService::message(QWidget* owner, const QString& title, const QString& text, bool ok_cancel) {
  const auto buttons = ok_cancel ? (QMessageBox::Ok | QMessageBox::Cancel) : QMessageBox::Ok;
  QMessageBox box(QMessageBox::NoIcon, title, text, buttons, owner);
  return box.exec() == QMessageBox::Ok;
}

bool QtDialogService::edit_value(const QString& title, const QString& prompt, QString* value) {
  InputDialog dlg(nullptr, title, prompt, *value);
  if (dlg.exec() != QDialog::Accepted) return false;
  *value = dlg.value();
  return true;
}

QString QtDialogService::open_file(QWidget* owner, const QString& caption, const QString& filter) {
  return QFileDialog::getOpenFileName(owner, caption, QString(), filter);
}

QString QtDialogService::save_file(QWidget* owner, const QString& caption, const QString& filter,
                                   const QString& name) {
  return QFileDialog::getSaveFileName(owner, caption, name, filter);
}
