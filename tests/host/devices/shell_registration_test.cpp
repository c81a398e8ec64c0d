// Registration of the document types in temporary XDG directories (no test
// touches a real home): what start-up and the file-association command
// write, when the registration counts as this program's, that start-up
// leaves any existing part alone, and that the desktop's own tools accept
// the files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <sstream>
#include <string>

#include <unistd.h>

#include "host/shell/shell_registration.h"

namespace fs = std::filesystem;

namespace {

class ShellRegistration : public ::testing::Test {
 protected:
  fs::path root, data, config, program;

  void SetUp() override {
    char pattern[] = "/tmp/tn_shell_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern;
    data = root / "data";
    config = root / "config";
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    shell_set_database_updates(false);
    program = root / "bin" / "tarnivel";
    fs::create_directories(program.parent_path());
    std::ofstream(program) << "#!/bin/sh\n";
  }
  void TearDown() override {
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_CONFIG_HOME");
    shell_set_database_updates(true);
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  static std::string text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path desktop(const ShellDocType& t) const { return data / "applications" / shell_desktop_file_name(t); }
  fs::path package(const ShellDocType& t) const { return data / "mime" / "packages" / (std::string(t.prog_id) + ".xml"); }
};

TEST_F(ShellRegistration, TheCommandRegistersAndThenMatches) {
  EXPECT_EQ(shell_dirs().data, data.string());
  ShellCommandState before = shell_association_state(program);
  EXPECT_TRUE(before.enabled);
  EXPECT_FALSE(before.checked);
  shell_register_all(program);
  const ShellCommandState after = shell_association_state(program);
  EXPECT_FALSE(after.enabled);
  EXPECT_TRUE(after.checked);
  EXPECT_EQ(kCmdFileAssociation, 10103);

  EXPECT_EQ(text(desktop(kShellTnType)),
            "[Desktop Entry]\nType=Application\nName=Tarnivel\nComment=Tarnivel TN File\nExec=\"" + program.string() +
                "\" %f\nIcon=application-x-tarnivel\nMimeType=application/x-tarnivel;\nNoDisplay=true\nTerminal=false\n");
  const std::string pkg = text(package(kShellTndType));
  EXPECT_NE(pkg.find("<mime-type type=\"application/x-tarnivel-tnd\">"), std::string::npos);
  EXPECT_NE(pkg.find("<comment>Tarnivel TND File</comment>"), std::string::npos);
  EXPECT_NE(pkg.find("<glob pattern=\"*.tnd\"/>"), std::string::npos);
  EXPECT_EQ(text(config / "mimeapps.list"),
            "[Default Applications]\napplication/x-tarnivel=Tarnivel.TNFile.desktop\n"
            "application/x-tarnivel-tnd=Tarnivel.TNDFile.desktop\n");
  const fs::path icons = data / "icons" / "hicolor" / "scalable" / "mimetypes";
  EXPECT_NE(text(icons / "application-x-tarnivel.svg").find(">TN<"), std::string::npos);
  EXPECT_NE(text(icons / "application-x-tarnivel-tnd.svg").find(">TND<"), std::string::npos);
  // Registering again changes nothing.
  shell_register_all(program);
  EXPECT_EQ(text(config / "mimeapps.list"),
            "[Default Applications]\napplication/x-tarnivel=Tarnivel.TNFile.desktop\n"
            "application/x-tarnivel-tnd=Tarnivel.TNDFile.desktop\n");
}

TEST_F(ShellRegistration, AMovedProgramNoLongerMatchesAndStartUpLeavesTheEntries) {
  shell_register_at_startup(program);
  EXPECT_TRUE(shell_doc_type_present(kShellTnType, true, true));
  EXPECT_TRUE(shell_association_state(program).checked);
  const fs::path moved = root / "elsewhere" / "tarnivel";
  fs::create_directories(moved.parent_path());
  fs::rename(program, moved);
  EXPECT_FALSE(shell_association_state(moved).checked);
  EXPECT_TRUE(shell_association_state(moved).enabled);
  shell_register_at_startup(moved);
  EXPECT_NE(text(desktop(kShellTnType)).find("Exec=\"" + program.string() + "\""), std::string::npos)
      << "start-up does not register again while the entries exist";
  shell_register_all(moved);
  EXPECT_TRUE(shell_association_state(moved).checked);
}

TEST_F(ShellRegistration, AProgramReachedThroughALinkMatchesByItsCanonicalPath) {
  const fs::path link = root / "link";
  fs::create_symlink(program.parent_path(), link);
  shell_register_all(program);
  EXPECT_FALSE(shell_doc_type_matches(kShellTnType, (link / "tarnivel").string(), false));
  EXPECT_TRUE(shell_doc_type_matches(kShellTnType, (link / "tarnivel").string(), true));
  EXPECT_TRUE(shell_association_state((link / "tarnivel").string()).checked);
  EXPECT_FALSE(shell_doc_type_matches(kShellTnType, (root / "none").string(), true));
}

TEST_F(ShellRegistration, AnyExistingPartCountsAsPresentAndIsLeftAlone) {
  EXPECT_FALSE(shell_doc_type_present(kShellTnType, true, true));
  // Another program maps *.tn to a type of its own.
  fs::create_directories(data / "mime" / "packages");
  std::ofstream(data / "mime" / "packages" / "other.xml")
      << "<mime-info><mime-type type=\"text/x-other\"><glob pattern=\"*.tn\"/></mime-type></mime-info>\n";
  EXPECT_TRUE(shell_doc_type_present(kShellTnType, false, false));
  EXPECT_FALSE(shell_doc_type_present(kShellTndType, true, true)) << "*.tn is not *.tnd";
  shell_register_at_startup(program);
  EXPECT_FALSE(fs::exists(package(kShellTnType)));
  EXPECT_FALSE(fs::exists(desktop(kShellTnType)));
  EXPECT_TRUE(fs::exists(desktop(kShellTndType)));
  // The MIME default and the icon count only when asked for.
  fs::remove(data / "mime" / "packages" / "other.xml");
  fs::create_directories(config);
  std::ofstream(config / "mimeapps.list") << "[Added Associations]\ntext/plain=x.desktop\n[Default Applications]\n"
                                             "application/x-tarnivel=viewer.desktop\ntext/html=web.desktop\n";
  EXPECT_FALSE(shell_doc_type_present(kShellTnType, true, false));
  EXPECT_TRUE(shell_doc_type_present(kShellTnType, false, true));
  // The command writes over the default and keeps every other line.
  shell_register_doc_type(kShellTnType, program);
  EXPECT_EQ(text(config / "mimeapps.list"),
            "[Added Associations]\ntext/plain=x.desktop\n[Default Applications]\n"
            "application/x-tarnivel=Tarnivel.TNFile.desktop\ntext/html=web.desktop\n");
  const fs::path icon = data / "icons" / "hicolor" / "scalable" / "mimetypes" / "application-x-tarnivel.svg";
  fs::remove(package(kShellTnType));
  fs::remove(desktop(kShellTnType));
  fs::remove(config / "mimeapps.list");
  EXPECT_TRUE(shell_doc_type_present(kShellTnType, true, false));
  EXPECT_FALSE(shell_doc_type_present(kShellTnType, false, true));
  EXPECT_TRUE(fs::exists(icon));
}

TEST_F(ShellRegistration, ExecQuotesEveryPathAndAFailedWriteStops) {
  const std::string odd = (root / "my dir" / "a\"b$c`d\\e%f").string();
  const std::string entry = shell_desktop_entry_text(kShellTnType, odd);
  EXPECT_NE(entry.find("Exec=\"" + (root / "my dir").string() + "/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e%%f\" %f\n"),
            std::string::npos)
      << entry;
  // The data directory cannot be made: nothing is registered.
  ::setenv("XDG_DATA_HOME", (root / "blocked" / "data").c_str(), 1);
  std::ofstream(root / "blocked") << "a file where a directory should be";
  EXPECT_FALSE(shell_register_doc_type(kShellTnType, program));
  EXPECT_FALSE(fs::exists(config / "mimeapps.list"));
  // A relative XDG directory is ignored, as the XDG base-directory rules ask.
  ::setenv("XDG_DATA_HOME", "relative/data", 1);
  const char* home = std::getenv("HOME");
  EXPECT_EQ(shell_dirs().data, std::string(home ? home : "") + "/.local/share");
}

bool tool_present(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

TEST_F(ShellRegistration, TheDesktopToolsAcceptTheFiles) {
  shell_register_all(program);
  if (tool_present("desktop-file-validate")) {
    for (const ShellDocType* t : {&kShellTnType, &kShellTndType}) {
      const std::string cmd = "desktop-file-validate '" + desktop(*t).string() + "' >" + (root / "v.txt").string() + " 2>&1";
      EXPECT_EQ(std::system(cmd.c_str()), 0) << text(root / "v.txt");
    }
  }
  if (!tool_present("update-mime-database")) GTEST_SKIP() << "update-mime-database is not installed";
  const std::string cmd = "update-mime-database '" + (data / "mime").string() + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string globs = text(data / "mime" / "globs2");
  EXPECT_NE(globs.find("application/x-tarnivel:*.tn"), std::string::npos) << globs;
  EXPECT_NE(globs.find("application/x-tarnivel-tnd:*.tnd"), std::string::npos) << globs;
}

// Children of this process that have ended but were never reaped.
int zombie_children() {
  int count = 0;
  std::error_code ec;
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    std::ifstream in(it->path() / "stat");
    std::string line;
    if (!std::getline(in, line) || line.rfind(')') == std::string::npos) continue;
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    char state = 0;
    long ppid = 0;
    rest >> state >> ppid;
    if (state == 'Z' && ppid == ::getpid()) ++count;
  }
  return count;
}

// The first start writes both types and runs each database update once, the
// second only after the first has ended, and reaps both. Stand-ins on PATH
// log when they start and end.
TEST_F(ShellRegistration, TheFirstStartRunsTheUpdatesOnceInTurnAndReapsThem) {
  const fs::path tools = root / "tools", log = root / "updates.log";
  fs::create_directories(tools);
  for (const char* name : {"update-mime-database", "update-desktop-database"}) {
    const fs::path tool = tools / name;
    std::ofstream(tool) << "#!/bin/sh\necho \"start " << name << " $1\" >>'" << log.string() << "'\nsleep 0.2\necho \"end "
                        << name << "\" >>'" << log.string() << "'\n";
    fs::permissions(tool, fs::perms::owner_all);
  }
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (tools.string() + ":" + path).c_str(), 1);
  shell_set_database_updates(true);
  shell_register_at_startup(program);
  std::string seen;
  for (int i = 0; i < 500 && std::count(seen.begin(), seen.end(), '\n') < 4; ++i) {
    ::usleep(20000);
    seen = text(log);
  }
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(seen, "start update-mime-database " + (data / "mime").string() + "\nend update-mime-database\n" +
                      "start update-desktop-database " + (data / "applications").string() +
                      "\nend update-desktop-database\n");
  int zombies = zombie_children();
  for (int i = 0; i < 250 && zombies > 0; ++i) {
    ::usleep(20000);
    zombies = zombie_children();
  }
  EXPECT_EQ(zombies, 0);
}

}  // namespace
