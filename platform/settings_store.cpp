// Settings over QSettings in INI form. Values are kept as text, so a key that
// another program or a hand edit left unreadable reads as its default.
#include "platform/settings_store.h"

#include <QDir>

namespace {

const char kOrganisation[] = "Brelvon";
const char kApplication[] = "Tarnivel Runtime";
const char kGroup[] = "1.0";

QString key_in_group(const QString& key) { return QString::fromLatin1(kGroup) + QLatin1Char('/') + key; }

}  // namespace

QString SettingsStore::default_path() {
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
  return base + QLatin1Char('/') + QString::fromLatin1(kOrganisation) + QLatin1Char('/') +
         QString::fromLatin1(kApplication) + QStringLiteral(".ini");
}

SettingsStore::SettingsStore() : settings_(default_path(), QSettings::IniFormat) {}

SettingsStore::SettingsStore(const QString& path) : settings_(path, QSettings::IniFormat) {}

int32_t SettingsStore::read_int(const QString& key, int32_t fallback) const {
  const QVariant v = settings_.value(key_in_group(key));
  if (!v.isValid()) return fallback;
  bool ok = false;
  const int32_t n = v.toString().trimmed().toInt(&ok, 10);
  return ok ? n : fallback;
}

QString SettingsStore::read_string(const QString& key, const QString& fallback) const {
  const QVariant v = settings_.value(key_in_group(key));
  return v.isValid() ? v.toString() : fallback;
}

bool SettingsStore::write(const QString& key, const QString& text) {
  settings_.setValue(key_in_group(key), text);
  settings_.sync();
  return settings_.status() == QSettings::NoError;
}

bool SettingsStore::write_int(const QString& key, int32_t value) { return write(key, QString::number(value)); }

bool SettingsStore::write_string(const QString& key, const QString& value) { return write(key, value); }
