// The settings file under a temporary XDG_CONFIG_HOME: its place, integers
// that cannot be read, and writes that reach the file at once.
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

}  // namespace
