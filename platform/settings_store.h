// The program's settings: one INI file, $XDG_CONFIG_HOME/Brelvon/Tarnivel
// Runtime.ini (or ~/.config when the variable is unset), keys in the group
// "1.0". Every write reaches the file before the call returns, except inside
// a batch, whose writes reach it together when the batch ends.
#pragma once

#include <cstdint>

#include <QHash>
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

  // Writes between begin_batch() and its end_batch() are held here (reads
  // see them) and reach the file in one rewrite when the outermost batch
  // ends: each write rewrites the whole file, however large the user's file
  // has grown, so a dozen keys saved one by one cost a dozen rewrites.
  void begin_batch();
  // False when the file could not be written.
  bool end_batch();
  // How many times this store has written its file.
  int file_writes() const { return file_writes_; }

  QString file_path() const { return settings_.fileName(); }
  static QString default_path();

 private:
  bool write(const QString& key, const QString& text);
  bool flush();
  mutable QSettings settings_;
  int batch_depth_ = 0;
  int file_writes_ = 0;
  QHash<QString, QString> pending_;  // a batch's writes, by key in group
};

// A batch over one scope: the settings written in it reach the file once,
// when it ends.
class SettingsBatch {
 public:
  explicit SettingsBatch(SettingsStore* store) : store_(store) { store_->begin_batch(); }
  ~SettingsBatch() { store_->end_batch(); }
  SettingsBatch(const SettingsBatch&) = delete;
  SettingsBatch& operator=(const SettingsBatch&) = delete;

 private:
  SettingsStore* store_;
};
