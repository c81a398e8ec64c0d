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
  const QString text = read_string(key, QString());
  if (text.isNull()) return fallback;
  bool ok = false;
  const int32_t n = text.trimmed().toInt(&ok, 10);
  return ok ? n : fallback;
}

QString SettingsStore::read_string(const QString& key, const QString& fallback) const {
  const QString full = key_in_group(key);
  const auto held = pending_.constFind(full);
  if (held != pending_.cend()) return *held;
  const QVariant v = settings_.value(full);
  if (!v.isValid()) return fallback;
  // An empty value read from the file is a string, never the null that
  // stands for "absent" above.
  const QString text = v.toString();
  return text.isNull() ? QString(QLatin1String("")) : text;
}

bool SettingsStore::write(const QString& key, const QString& text) {
  if (batch_depth_ > 0) {
    pending_.insert(key_in_group(key), text);
    return true;
  }
  settings_.setValue(key_in_group(key), text);
  return flush();
}

// QSettings also writes by itself once the event loop next runs after a
// change; a sync straight after the change leaves it nothing to do, so the
// count below is every rewrite of the file.
bool SettingsStore::flush() {
  settings_.sync();
  ++file_writes_;
  return settings_.status() == QSettings::NoError;
}

void SettingsStore::begin_batch() { ++batch_depth_; }

bool SettingsStore::end_batch() {
  if (batch_depth_ == 0 || --batch_depth_ > 0) return true;
  if (pending_.isEmpty()) return true;
  for (auto it = pending_.cbegin(); it != pending_.cend(); ++it) settings_.setValue(it.key(), it.value());
  pending_.clear();
  return flush();
}

bool SettingsStore::write_int(const QString& key, int32_t value) { return write(key, QString::number(value)); }

bool SettingsStore::write_string(const QString& key, const QString& value) { return write(key, value); }
