// The dialog request: value dialog with OK, Cancel and an over-long value,
// message boxes with and without the confirm flag, texts as UTF-8 both ways.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>

#include "host/ui/input_dialog.h"
#include "tests/host/ui/scripted_dialogs.h"

namespace {

struct Request {
  std::string title, prompt;
  char buffer[8];
  int32_t length;
  DialogRequest r;
  Request(const std::string& t, const std::string& p, const char* value, bool with_buffer, bool confirm)
      : title(t), prompt(p) {
    std::memset(buffer, '#', sizeof buffer);
    length = int32_t(std::strlen(value));
    std::memcpy(buffer, value, size_t(length));
    r = DialogRequest{title.data(), int32_t(title.size()), prompt.data(), int32_t(prompt.size()),
                      with_buffer ? buffer : nullptr, int32_t(sizeof buffer), &length, uint8_t(confirm)};
  }
  std::string value() const { return std::string(buffer, size_t(length)); }
};

TEST(InputDialog, ValueDialogOutcomes) {
  struct Row {
    const char* name;
    bool ok;
    const char* typed;  // null: left as shown
    bool result;
    std::string value;  // buffer contents up to the length afterwards
    std::string tail;   // the buffer bytes after the value
  } rows[] = {
      {"ok unchanged", true, nullptr, true, "v\xC3\xA9", "#####"},
      {"ok edited", true, "x", true, "x", "\xC3\xA9#####"},
      {"cancel", false, "zzz", false, "v\xC3\xA9", "#####"},
      {"over-long ascii cut to the buffer", true, "0123456789", true, "01234567", ""},
      // Seven ASCII bytes then a two-byte character: the character would be
      // split at the end of the buffer, so it is left out whole.
      {"cut at a character boundary", true, "abcdefg\u00e9", true, "abcdefg", "#"},
      {"four-byte character whole", true, "ab\U0001F600", true, "ab\xF0\x9F\x98\x80", "##"},
  };
  for (const Row& row : rows) {
    ScriptedDialogs dialogs;
    dialogs.answer_ok = row.ok;
    if (row.typed) dialogs.type(QString::fromUtf8(row.typed));
    Request q("T\xC3\xADtulo", "Pr\xC3\xB6mpt", "v\xC3\xA9", true, false);
    EXPECT_EQ(input_dialog_run(q.r), row.result) << row.name;
    EXPECT_EQ(q.value(), row.value) << row.name;
    EXPECT_EQ(std::string(q.buffer + q.length, sizeof q.buffer - size_t(q.length)), row.tail) << row.name;
    ASSERT_EQ(dialogs.asked.size(), 1) << row.name;
    EXPECT_EQ(dialogs.asked[0], QString::fromUtf8("value|T\xC3\xADtulo|Pr\xC3\xB6mpt|v\xC3\xA9")) << row.name;
  }
}

TEST(InputDialog, MessageBoxes) {
  for (bool confirm : {false, true})
    for (bool ok : {false, true}) {
      ScriptedDialogs dialogs;
      dialogs.answer_ok = ok;
      Request q("Caption", "Text", "", false, confirm);
      EXPECT_EQ(input_dialog_run(q.r), confirm && ok);
      ASSERT_EQ(dialogs.asked.size(), 1);
      EXPECT_EQ(dialogs.asked[0], QStringLiteral("message|Caption|Text|%1").arg(int(confirm)));
    }
  ScriptedDialogs dialogs;
  Request q("", "Only text", "", false, false);
  q.r.title_length = -1;
  input_dialog_run(q.r);
  EXPECT_EQ(dialogs.asked[0], QStringLiteral("message||Only text|0"));
}

TEST(InputDialog, RealDialogShowsItsTextsAndReturnsTheEdit) {
  InputDialog dlg(nullptr, QStringLiteral("Title"), QStringLiteral("Prompt text"), QStringLiteral("42"));
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Title"));
  EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("130"))->text(), QStringLiteral("Prompt text"));
  QTimer::singleShot(0, &dlg, [&] {
    dlg.value_edit()->setPlainText(QStringLiteral("43"));
    dlg.accept();
  });
  EXPECT_EQ(dlg.exec(), QDialog::Accepted);
  EXPECT_EQ(dlg.value(), QStringLiteral("43"));
}

}  // namespace
