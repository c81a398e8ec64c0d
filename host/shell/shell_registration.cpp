// The document types registered with the desktop in the user's XDG
// directories. Every file is written whole under a temporary name and then
// renamed, so a reader never sees half of one; mimeapps.list keeps every line
// that is not the type's own default.
#include "host/shell/shell_registration.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <vector>

#include "host/devices/detached_process.h"

namespace fs = std::filesystem;

const ShellDocType kShellTnType = {"Tarnivel.TNFile", "Tarnivel TN File", ".tn", "application/x-tarnivel", 1};
const ShellDocType kShellTndType = {"Tarnivel.TNDFile", "Tarnivel TND File", ".tnd", "application/x-tarnivel-tnd", 2};

namespace {

constexpr char kDefaultsSection[] = "[Default Applications]";
constexpr char kEntrySection[] = "[Desktop Entry]";
constexpr char kProgramName[] = "Tarnivel";
constexpr char kSelfExe[] = "/proc/self/exe";

// Icons 1 and 2: a page with the type's letters.
constexpr const char* kIconColours[] = {"#2a5db0", "#2a8a4a"};
constexpr const char* kIconLetters[] = {"TN", "TND"};


std::string env_or(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v == '/' ? std::string(v) : fallback;
}

fs::path package_path(const ShellDirs& d, const ShellDocType& t) {
  return fs::path(d.data) / "mime" / "packages" / (std::string(t.prog_id) + ".xml");
}
fs::path desktop_path(const ShellDirs& d, const ShellDocType& t) {
  return fs::path(d.data) / "applications" / shell_desktop_file_name(t);
}
std::string icon_name(const ShellDocType& t) {
  std::string s = t.mime_type;
  for (char& c : s)
    if (c == '/') c = '-';
  return s;
}
fs::path icon_path(const ShellDocType& t, const ShellDirs& d) {
  return fs::path(d.data) / "icons" / "hicolor" / "scalable" / "mimetypes" / (icon_name(t) + ".svg");
}
fs::path mimeapps_path(const ShellDirs& d) { return fs::path(d.config) / "mimeapps.list"; }

bool read_text(const fs::path& p, std::string* text) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

bool write_text(const fs::path& p, const std::string& text) {
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  if (ec) return false;
  const fs::path tmp = p.string() + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!(out << text) || !out.flush()) return false;
  }
  fs::rename(tmp, p, ec);
  if (ec) fs::remove(tmp, ec);
  return !ec;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The value of key in a section of an ini-style file, or false.
bool ini_value(const std::string& text, const char* section, const std::string& key, std::string* value) {
  bool inside = false;
  for (const std::string& line : lines_of(text)) {
    if (!line.empty() && line[0] == '[') {
      inside = line == section;
      continue;
    }
    if (inside && line.compare(0, key.size() + 1, key + "=") == 0) {
      *value = line.substr(key.size() + 1);
      return true;
    }
  }
  return false;
}

// mimeapps.list with the type's default set to our entry, every other line kept.
std::string with_default(const std::string& text, const std::string& mime, const std::string& entry) {
  const std::string line_of_ours = mime + "=" + entry;
  std::string out;
  bool inside = false, done = false;
  for (const std::string& line : lines_of(text)) {
    if (!line.empty() && line[0] == '[') {
      if (inside && !done) {
        out += line_of_ours + "\n";
        done = true;
      }
      inside = line == kDefaultsSection;
    } else if (inside && line.compare(0, mime.size() + 1, mime + "=") == 0) {
      if (!done) out += line_of_ours + "\n";
      done = true;
      continue;
    }
    out += line + "\n";
  }
  if (!done) {
    if (!inside) out += std::string(kDefaultsSection) + "\n";
    out += line_of_ours + "\n";
  }
  return out;
}

// The program as one argument of an Exec key: quoted, with the characters
// the quoting reserves escaped, then the string value's own escapes.
std::string exec_value(const std::string& program) {
  std::string quoted = "\"";
  for (char c : program) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += "\"";
  std::string value;
  for (char c : quoted) {
    if (c == '\\') value += "\\\\";
    else if (c == '%') value += "%%";
    else value += c;
  }
  return value + " %f";
}

std::string mime_value(const ShellDocType& t) { return std::string(t.mime_type) + ";"; }

std::string icon_text(const ShellDocType& t) {
  const int k = t.icon_index == 2 ? 1 : 0;
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\" viewBox=\"0 0 64 64\">\n"
                     "  <path d=\"M12 4h28l12 12v44H12z\" fill=\"#ffffff\" stroke=\"") +
         kIconColours[k] +
         "\" stroke-width=\"3\"/>\n"
         "  <path d=\"M40 4v12h12\" fill=\"none\" stroke=\"" +
         kIconColours[k] +
         "\" stroke-width=\"3\"/>\n"
         "  <text x=\"32\" y=\"46\" font-family=\"sans-serif\" font-size=\"16\" font-weight=\"bold\" "
         "text-anchor=\"middle\" fill=\"" +
         kIconColours[k] + "\">" + kIconLetters[k] + "</text>\n</svg>\n";
}

bool g_updates = true;

}  // namespace

void shell_set_database_updates(bool on) { g_updates = on; }

ShellDirs shell_dirs() {
  const char* home = std::getenv("HOME");
  const std::string h = home ? home : "";
  return {env_or("XDG_DATA_HOME", h + "/.local/share"), env_or("XDG_CONFIG_HOME", h + "/.config")};
}

std::string shell_program_path() {
  std::error_code ec;
  const fs::path p = fs::read_symlink(kSelfExe, ec);
  return ec ? std::string() : p.string();
}

std::string shell_desktop_file_name(const ShellDocType& t) { return std::string(t.prog_id) + ".desktop"; }

std::string shell_desktop_entry_text(const ShellDocType& t, const std::string& program) {
  return std::string(kEntrySection) + "\nType=Application\nName=" + kProgramName + "\nComment=" + t.description +
         "\nExec=" + exec_value(program) + "\nIcon=" + icon_name(t) + "\nMimeType=" + mime_value(t) +
         "\nNoDisplay=true\nTerminal=false\n";
}

std::string shell_mime_package_text(const ShellDocType& t) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                     "  <mime-type type=\"") +
         t.mime_type + "\">\n    <comment>" + t.description + "</comment>\n    <icon name=\"" + icon_name(t) +
         "\"/>\n    <glob pattern=\"*" + t.extension + "\"/>\n  </mime-type>\n</mime-info>\n";
}

namespace {

// The files of one type, without the database updates.
bool write_doc_type(const ShellDocType& t, const std::string& program) {
  const ShellDirs d = shell_dirs();
  std::string mimeapps;
  read_text(mimeapps_path(d), &mimeapps);  // none yet: an empty list
  return write_text(package_path(d, t), shell_mime_package_text(t)) && write_text(icon_path(t, d), icon_text(t)) &&
         write_text(desktop_path(d, t), shell_desktop_entry_text(t, program)) &&
         write_text(mimeapps_path(d), with_default(mimeapps, t.mime_type, shell_desktop_file_name(t)));
}

// Once for all the types written: both tools rewrite files of the user's
// directories, and two runs of one over the same directory fail renaming
// each other's files.
void update_databases() {
  if (!g_updates) return;
  const ShellDirs d = shell_dirs();
  spawn_in_turn({{"update-mime-database", (fs::path(d.data) / "mime").string()},
                 {"update-desktop-database", (fs::path(d.data) / "applications").string()}});
}

}  // namespace

bool shell_register_doc_type(const ShellDocType& t, const std::string& program) {
  const bool ok = write_doc_type(t, program);
  update_databases();
  return ok;
}

bool shell_doc_type_present(const ShellDocType& t, bool test_icon, bool test_mime) {
  const ShellDirs d = shell_dirs();
  std::error_code ec;
  if (fs::exists(package_path(d, t), ec) || fs::exists(desktop_path(d, t), ec)) return true;
  // Any package of the user's that claims the extension: a mapping another
  // program made is left alone.
  const std::string glob = "pattern=\"*" + std::string(t.extension) + "\"";
  for (fs::directory_iterator it(fs::path(d.data) / "mime" / "packages", ec), end; !ec && it != end;
       it.increment(ec)) {
    std::string text;
    if (it->path().extension() == ".xml" && read_text(it->path(), &text) && text.find(glob) != std::string::npos)
      return true;
  }
  if (test_icon && fs::exists(icon_path(t, d), ec)) return true;
  std::string mimeapps, value;
  return test_mime && read_text(mimeapps_path(d), &mimeapps) &&
         ini_value(mimeapps, kDefaultsSection, t.mime_type, &value) && !value.empty();
}

bool shell_doc_type_matches(const ShellDocType& t, const std::string& program, bool long_path) {
  std::string path = program;
  if (long_path) {
    std::error_code ec;
    const fs::path canonical = fs::canonical(program, ec);
    if (ec) return false;
    path = canonical.string();
  }
  std::string text, exec, mime;
  return read_text(desktop_path(shell_dirs(), t), &text) && ini_value(text, kEntrySection, "Exec", &exec) &&
         ini_value(text, kEntrySection, "MimeType", &mime) && exec == exec_value(path) && mime == mime_value(t);
}

void shell_register_at_startup(const std::string& program) {
  bool written = false;
  for (const ShellDocType* t : {&kShellTnType, &kShellTndType})
    if (!shell_doc_type_present(*t, true, true)) written = write_doc_type(*t, program) || written;
  if (written) update_databases();
}

void shell_register_all(const std::string& program) {
  write_doc_type(kShellTnType, program);
  write_doc_type(kShellTndType, program);
  update_databases();
}

ShellCommandState shell_association_state(const std::string& program) {
  const bool ours =
      shell_doc_type_matches(kShellTnType, program, false) || shell_doc_type_matches(kShellTnType, program, true);
  return {!ours, ours};
}
