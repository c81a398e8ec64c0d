// The settings file under a temporary XDG_CONFIG_HOME: its place, integers
// that cannot be read, writes that reach the file at once, and batches that
// rewrite it once for all their keys.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "platform/settings_store.h"

namespace {

QByteArray file_text(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(SettingsStore, PlaceReadsAndImmediateWrites) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QByteArray old = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
  const QString path = dir.path() + QStringLiteral("/Brelvon/Tarnivel Runtime.ini");
  {
    SettingsStore s;
    EXPECT_EQ(s.file_path(), path);
    EXPECT_EQ(s.read_int(QStringLiteral("MemMin"), 7), 7);
    ASSERT_TRUE(s.write_int(QStringLiteral("MemMin"), 4096));
    // In the file before the store goes away.
    EXPECT_TRUE(file_text(path).contains("[1.0]\nMemMin=4096"));
    ASSERT_TRUE(s.write_string(QStringLiteral("FormatType"), QStringLiteral("g")));
    EXPECT_TRUE(file_text(path).contains("FormatType=g"));
  }
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::Append));
  f.write("MemMax=lots\nThickLines= 12 \nBkColor=99999999999\n");
  f.close();
  SettingsStore s;
  EXPECT_EQ(s.read_int(QStringLiteral("MemMin"), 0), 4096);
  EXPECT_EQ(s.read_int(QStringLiteral("MemMax"), 33), 33);
  EXPECT_EQ(s.read_int(QStringLiteral("ThickLines"), 0), 12);
  EXPECT_EQ(s.read_int(QStringLiteral("BkColor"), -1), -1);
  EXPECT_EQ(s.read_string(QStringLiteral("FormatType"), QString()), QStringLiteral("g"));
  EXPECT_EQ(s.read_string(QStringLiteral("Missing"), QStringLiteral("d")), QStringLiteral("d"));
  if (old.isNull()) qunsetenv("XDG_CONFIG_HOME"); else qputenv("XDG_CONFIG_HOME", old);
}

// A batch's writes are read back at once, reach the file together when the
// outermost batch ends (one rewrite, counted), and leave every key and group
// the file held before, the program's or not.
TEST(SettingsStore, ABatchRewritesTheFileOnce) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.path() + QStringLiteral("/s.ini");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[1.0]\nUserNote=mine\nThickLines=1\n[Other]\nk1=v1\n");
  }
  SettingsStore s(path);
  EXPECT_EQ(s.file_writes(), 0);
  s.begin_batch();
  ASSERT_TRUE(s.write_int(QStringLiteral("WindowLeft"), 12));
  ASSERT_TRUE(s.write_string(QStringLiteral("FormatType"), QStringLiteral("e")));
  {
    SettingsBatch inner(&s);
    ASSERT_TRUE(s.write_int(QStringLiteral("WindowLeft"), 13));
    ASSERT_TRUE(s.write_string(QStringLiteral("Empty"), QString()));
  }
  // Held: read back, nothing in the file yet, even after the inner batch.
  EXPECT_EQ(s.read_int(QStringLiteral("WindowLeft"), -1), 13);
  EXPECT_EQ(s.read_string(QStringLiteral("FormatType"), QString()), QStringLiteral("e"));
  EXPECT_EQ(s.read_string(QStringLiteral("Empty"), QStringLiteral("absent")), QString());
  EXPECT_EQ(s.read_int(QStringLiteral("ThickLines"), -1), 1);
  EXPECT_EQ(s.file_writes(), 0);
  EXPECT_FALSE(file_text(path).contains("WindowLeft"));
  ASSERT_TRUE(s.end_batch());
  EXPECT_EQ(s.file_writes(), 1);
  const QByteArray text = file_text(path);
  for (const char* line : {"WindowLeft=13", "FormatType=e", "UserNote=mine", "ThickLines=1", "[Other]", "k1=v1"})
    EXPECT_TRUE(text.contains(line)) << line;
  // An unmatched end and an empty batch write nothing; a write outside a
  // batch is one rewrite.
  EXPECT_TRUE(s.end_batch());
  { SettingsBatch empty(&s); }
  EXPECT_EQ(s.file_writes(), 1);
  ASSERT_TRUE(s.write_int(QStringLiteral("WindowTop"), 5));
  EXPECT_EQ(s.file_writes(), 2);
  SettingsStore again(path);
  EXPECT_EQ(again.read_int(QStringLiteral("WindowLeft"), -1), 13);
  EXPECT_EQ(again.read_int(QStringLiteral("WindowTop"), -1), 5);
  EXPECT_EQ(again.read_string(QStringLiteral("Empty"), QStringLiteral("absent")), QString());
}

}  // namespace
