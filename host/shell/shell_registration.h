// Registration of the TN and TND document types with the desktop, after the
// XDG conventions: a shared-mime-info package per type, a desktop entry that
// opens files of the type with this program, the default application in
// mimeapps.list and an icon per type, all in the user's own directories.
// Failures are silent: a failed step ends that type's registration.
#pragma once

#include <string>

struct ShellDocType {
  const char* prog_id;      // names the type's own files ("Tarnivel.TNFile")
  const char* description;  // the package's comment
  const char* extension;    // ".tn"
  const char* mime_type;    // "application/x-tarnivel"
  int icon_index;           // 1 or 2: the icon of our own for the type
};

extern const ShellDocType kShellTnType;
extern const ShellDocType kShellTndType;

// The menu command that registers both types (checked and disabled once the
// registration is this program's).
constexpr int kCmdFileAssociation = 10103;

// The user's data and configuration directories: $XDG_DATA_HOME and
// $XDG_CONFIG_HOME, else ~/.local/share and ~/.config.
struct ShellDirs {
  std::string data;
  std::string config;
};
ShellDirs shell_dirs();

// The program's own path as the system reports it (/proc/self/exe).
std::string shell_program_path();

// Writes the type's package, icon, desktop entry and default application, in
// that order, then starts the desktop's database updates detached when they
// are installed. False when a write failed (the later ones are not made).
bool shell_register_doc_type(const ShellDocType& type, const std::string& program);
// Whether registering starts the database updates (on by default; tests
// run them themselves, in the foreground).
void shell_set_database_updates(bool on);
// True when any part of a registration of the type exists: our package, our
// desktop entry, any package of the user's that claims the extension, with
// test_icon our icon, with test_mime a default application for the MIME type.
bool shell_doc_type_present(const ShellDocType& type, bool test_icon, bool test_mime);
// True when the desktop entry's Exec and MimeType are what this program would
// write; with long_path the program's canonical path stands in its place.
bool shell_doc_type_matches(const ShellDocType& type, const std::string& program, bool long_path);

// Start-up: registers each type of which no part exists, so that a
// registration made by another program or changed by the user stays.
void shell_register_at_startup(const std::string& program);

// The file-association command and its menu state.
void shell_register_all(const std::string& program);
struct ShellCommandState {
  bool enabled;
  bool checked;
};
ShellCommandState shell_association_state(const std::string& program);

// The text of the files, for tests and for the check that would write them.
std::string shell_desktop_entry_text(const ShellDocType& type, const std::string& program);
std::string shell_mime_package_text(const ShellDocType& type);
std::string shell_desktop_file_name(const ShellDocType& type);
