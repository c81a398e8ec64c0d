// The settings fuzz entry over settings files: every key at its default, then
// each integer key at the edges of 32 bits and past them, at zero, negative,
// in forms that are not decimal integers; the text keys empty, cut, in other
// scripts; a bar state the window saved, cut and flipped; broken files.
#include <gtest/gtest.h>

#include <QMainWindow>
#include <QStatusBar>
#include <QToolBar>
#include <string>
#include <vector>

#include "fuzz/corpus.h"

namespace {

const char* const kIntegerKeys[] = {
    "MemMin",     "MemMax",       "CodeOptimization", "DiscardAssert", "InteractiveHilight", "ThickLines",
    "BkColor",    "FormatLoose",  "FormatNDigits",    "FigFontSize",   "WindowFlags",        "WindowShowCmd",
    "WindowLeft", "WindowRight",  "WindowTop",        "WindowBottom",  "CmdPanelHeight",
};
const char* const kIntegers[] = {"-2147483648", "2147483647", "2147483648", "-2147483649", "0",  "-1",
                                 "1",           "-11",        "0x10",       " 12 ",        "1e3", "",
                                 "99999999999999999999"};

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

// A file with every key, one of them replaced.
std::string settings_file(const std::string& key = "", const std::string& value = "", const std::string& bar = "") {
  const std::pair<const char*, const char*> defaults[] = {
      {"MemMin", "8290304"},     {"MemMax", "134217728"},   {"CodeOptimization", "1"}, {"DiscardAssert", "0"},
      {"InteractiveHilight", "1"}, {"ThickLines", "0"},      {"BkColor", "15066597"},    {"FormatType", "g"},
      {"FormatImagSymbol", "j"}, {"FormatLoose", "0"},      {"FormatNDigits", "4"},     {"FigFontName", "Arial"},
      {"FigFontSize", "-11"},    {"WindowFlags", "0"},      {"WindowShowCmd", "1"},     {"WindowLeft", "10"},
      {"WindowRight", "810"},    {"WindowTop", "20"},       {"WindowBottom", "620"},    {"CmdPanelHeight", "0"},
  };
  std::string f = "[1.0]\n";
  for (const auto& [k, v] : defaults) f += std::string(k) + "=" + (key == k ? value : v) + "\n";
  if (!bar.empty()) f += "BarSettings=" + bar + "\n";
  return f;
}

TEST(SettingsCorpus, EveryStoredValueIsTaken) {
  int runs = 0;
  runs += run_corpus(bytes(settings_file()), 8, 40);
  for (const char* key : kIntegerKeys)
    for (const char* value : kIntegers) runs += run_seed(bytes(settings_file(key, value)));
  for (const char* key : {"FormatType", "FormatImagSymbol", "FigFontName"})
    for (const char* value : {"", "2", "I", "i", "\xc3\xa9", "\"quoted\"", "a,b", "@Invalid()",
                              "a very long face name that goes on past thirty-two characters"})
      runs += run_seed(bytes(settings_file(key, value)));
  // A bar state as the window saves it, whole, cut and flipped.
  QMainWindow w;
  w.addToolBar(QStringLiteral("Standard"))->setObjectName(QStringLiteral("ToolBar"));
  w.setStatusBar(new QStatusBar(&w));
  const std::string state = w.saveState().toBase64().toStdString();
  runs += run_corpus(bytes(settings_file("", "", state)), 0, 30);
  runs += run_seed(bytes(settings_file("", "", state.substr(0, state.size() / 2))));
  for (const char* broken : {"", "[1.0", "[1.0]\nMemMin", "=\n=\n", "[1.0]\nFigFontSize=-2147483648\n",
                             "[1.0]\nFigFontSize=2147483647\nFigFontName=\n", "\xff\xfe[\x00"})
    runs += run_seed(bytes(broken));
  EXPECT_GT(runs, 0);
}

}  // namespace
