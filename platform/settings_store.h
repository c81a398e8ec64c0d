// The program's settings: one INI file, $XDG_CONFIG_HOME/Brelvon/Tarnivel
// Runtime.ini (or ~/.config when the variable is unset), keys in the group
// "1.0". Every write reaches the file before the call returns.
#pragma once

#include <cstdint>

#include <QSettings>
#include <QString>

class SettingsStore {
 public:
  // The file named above, located when the store is made.
  SettingsStore();
  // A file of the caller's choosing.
  explicit SettingsStore(const QString& path);

  // The integer under key; fallback when the key is absent or its text is
  // not a decimal integer that fits in 32 bits.
  int32_t read_int(const QString& key, int32_t fallback) const;
  QString read_string(const QString& key, const QString& fallback) const;
  // Each returns false when the file could not be written.
  bool write_int(const QString& key, int32_t value);
  bool write_string(const QString& key, const QString& value);

  QString file_path() const { return settings_.fileName(); }
  static QString default_path();

 private:
  bool write(const QString& key, const QString& text);
  mutable QSettings settings_;
};
