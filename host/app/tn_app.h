// The application object: start-up in its fixed order (settings, runtime
// host and its callbacks, the host's built-in table, document, main window
// and view, then the appended application), the preference, help and About
// commands, and the settings they read and write.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <QString>

#include "runtime/host_clock.h"

class CommandMap;
class FontWarmup;
class BlockRuntime;
class RuntimeHost;
class SettingsStore;
class TNDoc;
class TNMainFrame;
class TNView;

// The settings start-up reads, after their clamps.
struct StartupSettings {
  int32_t mem_min, mem_max;
  int32_t code_optimization, discard_assert;
  int32_t interactive_highlight, thick_lines;
  uint32_t background;
  char format_letter, imaginary;
  int32_t digits;
  uint8_t loose;
};
constexpr int32_t kMemMinDefault = 8290304, kMemMaxDefault = 134217728, kMemLimit = 2146435072;
StartupSettings startup_settings_read(const SettingsStore& settings);

// The running program's file (tests hand a packed file instead).
QString running_program_path();
// name beside the program, when that file exists.
std::optional<QString> app_file_beside_exe(const QString& program, const QString& name);

class TNApp {
 public:
  // program: the file whose appended application is loaded.
  TNApp(SettingsStore* settings, QString program);
  ~TNApp();

  // Start-up; false ends the program.
  // Fonts: a warm-up the program's main started before the application
  // object; start-up waits for it before the window's first text, so the
  // configuration is never read twice. Null: no warm-up.
  void set_font_warmup(FontWarmup* fonts) { fonts_ = fonts; }
  bool init_instance();

  RuntimeHost* host() const { return host_.get(); }
  TNDoc* document() const { return doc_.get(); }
  TNMainFrame* main_frame() const { return frame_.get(); }
  TNView* view() const;
  CommandMap* commands() const { return commands_.get(); }
  const StartupSettings& settings() const { return s_; }
  BreakFlag* break_flag() { return &break_flag_; }

 private:
  void route_commands();
  void attach_window_builtins();

  SettingsStore* settings_;
  QString program_;
  FontWarmup* fonts_ = nullptr;
  StartupSettings s_{};
  std::optional<QString> help_page_;
  std::unique_ptr<RuntimeHost> host_;
  std::unique_ptr<CommandMap> commands_;
  std::unique_ptr<BlockRuntime> doc_runtime_;
  std::unique_ptr<TNMainFrame> frame_;
  std::unique_ptr<TNDoc> doc_;
  BreakFlag break_flag_{0};
  double clock_slots_[kHostClockSlots] = {};
};
