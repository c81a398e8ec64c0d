// Libraries and sources: lazy loading through "+readlib", use-lists, private
// functions, reading through "+readfn" with "include" expansion and the text
// fixes, and the definition scanner.
#include <gtest/gtest.h>

#include "support/engine_block.h"
#include "support/fn_fakes.h"

namespace {

struct Libraries : ::testing::Test {
  EngineBlock eng = EngineBlock::make(256 * 1024);
  EngineContext* c = eng.ctx();
  FakeCompiler compiler;
  SourceStore store;
  BuiltinEntry table[3] = {hook_row(kHookReadLib, store_hook, reinterpret_cast<uintptr_t>(&store)),
                           hook_row(kHookReadFn, store_hook, reinterpret_cast<uintptr_t>(&store)), {}};

  void SetUp() override {
    register_error_table(c);
    ASSERT_EQ(engine_register_builtin_table(c, table, 1), kOk);
  }

  int32_t lib(const char* name) {
    int32_t id = 0;
    EXPECT_EQ(lib_find_by_name(c, name, -1, 1, &id), kOk);
    return id;
  }
  int use(int32_t library, const std::string& text) {
    return lib_use(c, library, text.data(), int32_t(text.size()));
  }
  int32_t find(const char* name, int32_t library) {
    return fn_find_user(c, name, int32_t(std::strlen(name)), nullptr, 0, library, 1, nullptr);
  }
  std::string read_fn(const std::string& name, int* status) {
    char buffer[2048];
    int32_t n = 0, line = 0;
    *status = lib_read_source(c, name.data(), int32_t(name.size()), ".m\0", 0, 0, buffer, sizeof buffer, &n, &line);
    return *status == kOk ? std::string(buffer, size_t(n)) : std::string();
  }
};

TEST_F(Libraries, UseRecordsAndLoadingReadsEachLibraryOnce) {
  store.library("alib", "use blib\nfunction fa\nendfunction\n");
  store.library("blib", "use alib\nfunction fb\nendfunction\nfunction fb2\nendfunction\n");
  const int32_t app = lib("app");
  ASSERT_EQ(lib_parse_use_lines(c, app, "use alib\n", 9), kOk);
  EXPECT_TRUE(store.asked.empty());  // "use" only records the library
  const int32_t alib = lib_index_by_symbol(c, symtab_find(c, "alib", 4));
  ASSERT_GT(alib, 0);
  EXPECT_EQ(ent(c, alib, kEntCode), kLibraryPending);

  ASSERT_EQ(use(app, "use alib\nfunction main\nendfunction\n"), kOk);
  EXPECT_EQ(store.reads_of("alib|zvl"), 1);
  EXPECT_EQ(store.reads_of("blib|zvl"), 1);  // the cycle back to alib ends there
  for (const char* f : {"main", "fa", "fb", "fb2"}) {
    const int32_t lib_of = std::string(f) == "main" ? app : std::string(f) == "fa" ? alib : -2;
    const int32_t id = fn_find_user(c, f, int32_t(std::strlen(f)), nullptr, 0,
                                    lib_of == -2 ? lib_index_by_symbol(c, symtab_find(c, "blib", 4)) : lib_of, 0,
                                    nullptr);
    ASSERT_GT(id, 0) << f;
    EXPECT_EQ(ent(c, id, kEntCode), kCodeNotCompiled) << f;  // defined, compiled at the first call
  }
  EXPECT_TRUE(FakeCompiler::log.empty());
  EXPECT_TRUE(lib_uses_library(c, app, alib));
  EXPECT_FALSE(lib_uses_library(c, alib, app));
}

TEST_F(Libraries, UseIfExistsSkipsAMissingLibraryAndUseFailsOnIt) {
  const int32_t app = lib("app");
  const int32_t count = c->fn_count;
  EXPECT_EQ(use(app, "useifexists missinglib\n"), kOk);
  EXPECT_EQ(c->fn_count, count);  // no entry made for it
  EXPECT_EQ(use(app, "use missinglib\n"), kLibraryNotFound);
  EXPECT_EQ(error_report(c, kLibraryNotFound), "Library not found 'missinglib'");
  EXPECT_EQ(use(app, ""), kLibraryNotFound);  // still pending, so still failing
  EXPECT_EQ(use(app, "use 9lib\n"), kBadLibraryName);
  EXPECT_EQ(use(app, "use a b\n"), kBadLibraryName);
}

TEST_F(Libraries, PrivateFunctionsStayInTheirLibrary) {
  store.library("A", "private function p\nendfunction\nfunction q\nendfunction\n");
  const int32_t b = lib("B");
  ASSERT_EQ(use(b, "use A\n"), kOk);
  const int32_t a = lib_index_by_symbol(c, symtab_find(c, "A", 1));
  EXPECT_GT(find("q", b), 0);
  EXPECT_EQ(find("p", b), -1);
  EXPECT_GT(find("p", a), 0);
  c->private_visible = 1;
  EXPECT_GT(find("p", b), 0);
}

TEST_F(Libraries, FunctionsWithoutLibraryAreSeenFromEveryLibrary) {
  const int32_t app = lib("app");
  int32_t g = 0;
  ASSERT_EQ(fn_table_define(c, "g", 1, nullptr, 0, 0, 0, 0, kNoLibrary, &g), kOk);
  EXPECT_EQ(find("g", app), g);
  int32_t cli = 0;
  ASSERT_EQ(lib_find_by_name(c, kCliLibrary, -1, 1, &cli), kOk);
  int32_t h = 0;
  ASSERT_EQ(fn_table_define(c, "h", 1, nullptr, 0, cli, 0, 0, kNoLibrary, &h), kOk);
  EXPECT_EQ(find("h", 0), h);   // the base workspace uses "_cli"
  EXPECT_EQ(find("h", app), -1);
}

TEST_F(Libraries, CompileSourceCompilesEveryDefinitionAndReplaces) {
  const int32_t app = lib("app");
  const std::string v1 = "function f\nasm push_one\nasm ret_function\nendfunction\ndefine k = 3\n";
  ASSERT_EQ(lib_compile_source(c, app, v1.data(), int32_t(v1.size()), 0), kOk);
  const int32_t f = find("f", app), k = find("k", app);
  ASSERT_GT(f, 0);
  ASSERT_GT(k, 0);
  EXPECT_TRUE(fn_code_header(c, k)[kHdrFlags] & kHdrArgless);
  EXPECT_EQ(FakeCompiler::log[0].text, "function f\nasm push_one\nasm ret_function\nendfunction\n");
  EXPECT_EQ(FakeCompiler::log[1].text, "define k = 3\n");
  EXPECT_EQ(lib_compile_source(c, app, v1.data(), int32_t(v1.size()), 0), kFunctionRedefined);
  ASSERT_EQ(lib_compile_source(c, app, v1.data(), int32_t(v1.size()), 1), kOk);
  EXPECT_EQ(find("f", app), f);
}

TEST_F(Libraries, LocatingALibraryFunctionMovesItsDefinitionFirst) {
  store.first_line = 10;
  store.library("L", "x = 1\nfunction a\nasm nop\nendfunction\n\nfunction b\nasm ret_function\n");
  const int32_t app = lib("app");
  ASSERT_EQ(use(app, "use L\n"), kOk);
  const int32_t b = find("b", app);
  ASSERT_GT(b, 0);
  char buffer[512];
  int32_t n = 0, line = 0;
  ASSERT_EQ(fn_locate_source(c, b, buffer, sizeof buffer, &n, &line), kOk);
  EXPECT_EQ(std::string(buffer, size_t(n)), "function b\nasm ret_function\n");
  EXPECT_EQ(line, 15);  // ten lines before the text, five before the header
  EXPECT_EQ(fn_locate_source(c, c->fn_count, buffer, sizeof buffer, &n, &line), kUndefinedFunctionOrVariable);

  const char* name = nullptr;
  ASSERT_EQ(fn_source_text(c, b, &name, &n), kOk);
  EXPECT_EQ(std::string(name, size_t(n)), "L");
  int32_t loose = 0;
  ASSERT_EQ(fn_table_define(c, "loose", 5, nullptr, 0, 0, 0, 0, kNoLibrary, &loose), kOk);
  EXPECT_EQ(fn_source_text(c, loose, &name, &n), kSourceNotFound);
}

TEST_F(Libraries, MissingDefinitionInALibraryIs214) {
  store.library("L", "function a\n");
  const int32_t app = lib("app");
  ASSERT_EQ(use(app, "use L\n"), kOk);
  const int32_t lib_l = lib_index_by_symbol(c, symtab_find(c, "L", 1));
  int32_t ghost = 0;
  ASSERT_EQ(fn_table_define(c, "ghost", 5, nullptr, 0, lib_l, 0, 0, kNoLibrary, &ghost), kOk);
  char buffer[256];
  int32_t n = 0, line = 0;
  EXPECT_EQ(fn_locate_source(c, ghost, buffer, sizeof buffer, &n, &line), kSourceNotFound);
}

TEST_F(Libraries, ReadingAppendsALineEndAndExpandsIncludes) {
  store.function("f", "function f\ninclude part\n  includeifexists nothere\nasm ret_function");
  store.function("part", "asm push_one\ninclude 'inner'\nasm pop_item\n");
  store.function("inner", "asm nop\n");
  int status = 0;
  EXPECT_EQ(read_fn("f", &status), "function f\nasm push_one\nasm nop\nasm pop_item\nasm ret_function\n");
  EXPECT_EQ(status, kOk);

  store.function("g", "include\n");
  read_fn("g", &status);
  EXPECT_EQ(status, kIncludeSyntax);
  EXPECT_EQ(error_report(c, kIncludeSyntax), "\"include\" not followed by a file name in 'g'");
  store.function("h", "include absent\n");
  read_fn("h", &status);
  EXPECT_EQ(status, kSourceNotFound);
  store.function("loop", "include loop\n");
  read_fn("loop", &status);
  EXPECT_EQ(status, kIncludeDepth);
  read_fn("nosuch", &status);
  EXPECT_EQ(status, kSourceNotFound);
  EXPECT_EQ(lib_read_source(c, "x", 1, nullptr, 1, 0, nullptr, 0, nullptr, nullptr), kLibraryNotFound);
}

TEST_F(Libraries, IncludeLinesInsideBlockCommentsStay) {
  store.function("f", "/* include x\n*/\nfunction f\n");
  int status = 0;
  EXPECT_EQ(read_fn("f", &status), "/* include x\n*/\nfunction f\n");
  EXPECT_EQ(status, kOk);
  // The comment after a command word whose quote is text of the word.
  store.function("g", "show x=' /*\ninclude x\n*/\nfunction g\n");
  EXPECT_EQ(read_fn("g", &status), "show x=' /*\ninclude x\n*/\nfunction g\n");
  EXPECT_EQ(status, kOk);
  // An "include" statement after a separator is one.
  store.function("part", "asm nop\n");
  store.function("h", "x = 1; include part\n  include part\nfunction h\n");
  EXPECT_EQ(read_fn("h", &status), "x = 1; asm nop\nasm nop\nfunction h\n");
  EXPECT_EQ(status, kOk);
}

TEST_F(Libraries, TextThatDoesNotFitIsAnErrorNotACut) {
  store.function("f", "abc");  // needs a line end added
  char buffer[3];
  int32_t n = 0, line = 0;
  EXPECT_EQ(lib_read_source(c, "f", 1, ".m\0", 0, 0, buffer, 3, &n, &line), kDataStackOverflow);
  store.function("big", std::string(10, 'x') + "\n");
  EXPECT_EQ(lib_read_source(c, "big", 3, ".m\0", 0, 0, buffer, 3, &n, &line), kDataStackOverflow);
  const std::string long_name(33, 'n');
  EXPECT_EQ(lib_read_source(c, long_name.data(), 33, ".m\0", 0, 0, buffer, 3, &n, &line), kNameTooLong);
}

int upper_hook(EngineContext*, char* text, int32_t, int32_t* length, uintptr_t) {
  for (int32_t i = 0; i < *length; ++i) text[i] = char(std::toupper(static_cast<unsigned char>(text[i])));
  return kOk;
}
int skip_three(const void*, void*, void*, int n) { return n >= 3 ? 3 : 0; }

TEST_F(Libraries, ByteOrderMarkAndCharsetConversion) {
  BuiltinEntry conv[] = {hook_row(kHookConvertCharset, upper_hook, 0), {}};
  ASSERT_EQ(engine_register_builtin_table(c, conv, 0), kOk);
  c->charset[kCharsetBom] = skip_three;
  store.library("L", "\xEF\xBB\xBFuse x\n");
  char buffer[64];
  int32_t n = 0, line = 0;
  ASSERT_EQ(lib_read_source(c, "L", 1, "zvl\0", 1, kReadConvert, buffer, sizeof buffer, &n, &line), kOk);
  EXPECT_EQ(std::string(buffer, size_t(n)), "USE X\n");
  ASSERT_EQ(lib_read_source(c, "L", 1, "zvl\0", 1, 0, buffer, sizeof buffer, &n, &line), kOk);
  EXPECT_EQ(std::string(buffer, size_t(n)), "use x\n");
}

// ---- The definition scanner -----------------------------------------------------------

struct Def {
  std::string name, cls, text;
  int line;
  bool priv, define;
  bool operator==(const Def&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Def& d) {
  return o << "{" << d.cls << "::" << d.name << " line " << d.line << (d.priv ? " private" : "")
           << (d.define ? " define" : "") << " [" << d.text << "]}";
}

struct ScanCase {
  const char* text;
  std::vector<Def> defs;
  int status;  // what ends the scan
};

TEST(DefinitionScan, Table) {
  EngineBlock eng = EngineBlock::make(256 * 1024);
  const ScanCase cases[] = {
      {"function a\nx=1\nfunction b(x)\nend\n",
       {{"a", "", "function a\nx=1\n", 0, false, false}, {"b", "", "function b(x)\nend\n", 2, false, false}},
       kEndOfFile},
      {"private\nfunction p\nendfunction\nx = 2\npublic function q\nendfunction\n",
       {{"p", "", "function p\nendfunction\n", 1, true, false},
        {"q", "", "function q\nendfunction\n", 4, false, false}},
       kEndOfFile},
      {"function a\nprivate\nfunction b\n",
       {{"a", "", "function a\nprivate\n", 0, false, false}, {"b", "", "function b\n", 2, true, false}},
       kEndOfFile},
      {"define k = 3\r\nfunction g\r\n",
       {{"k", "", "define k = 3\r\n", 0, false, true}, {"g", "", "function g\r\n", 1, false, false}},
       kEndOfFile},
      {"function [a, b] = cls::m(x, ...\n  y)\nbody\n", {{"m", "cls", "function [a, b] = cls::m(x, ...\n  y)\nbody\n", 0, false, false}},
       kEndOfFile},
      {"function y = f\n", {{"f", "", "function y = f\n", 0, false, false}}, kEndOfFile},
      {"/*\nfunction hidden\n*/\n% function no\nfunctional = 3\n\nfunction shown",
       {{"shown", "", "function shown", 6, false, false}},
       kEndOfFile},
      // Definitions begin and end at statements: after a "," or ";", and
      // with "endfunction" wherever it stands; what follows it is read on.
      {"function f(), disp('f'), endfunction\ndisp(5)\n",
       {{"f", "", "function f(), disp('f'), endfunction\n", 0, false, false}},
       kEndOfFile},
      {"x = 1; function f(), y = 1, endfunction, function g(), endfunction; z = 2\n",
       {{"f", "", "function f(), y = 1, endfunction,", 0, false, false},
        {"g", "", "function g(), endfunction;", 0, false, false}},
       kEndOfFile},
      {"function f(), endfunction\nendfunction\n", {{"f", "", "function f(), endfunction\n", 0, false, false}},
       kUnexpectedEndfunction},
      {"x = [1\nfunction g\n]\n", {}, kEndOfFile},
      // A statement continued onto a line that starts with "function" takes
      // that line in, as the compiler reads it, though it fails there; one
      // that failed after its own line end leaves the next line to itself.
      {"v = 5; x = 2;\nv - x...\nfunction y = g(a); y = a; endfunction\n+ 100\n", {}, kEndOfFile},
      // A variable's name before a command word is a command too: the dots
      // are the word's text and the line end ends it.
      {"v = 5;\nv -x...\nfunction g\n", {{"g", "", "function g\n", 2, false, false}}, kEndOfFile},
      {"end ...\nfunction g\n", {}, kEndOfFile},
      {"[a, 1] = 3\nfunction g\n", {{"g", "", "function g\n", 1, false, false}}, kEndOfFile},
      {"if\nfunction g\n", {{"g", "", "function g\n", 1, false, false}}, kEndOfFile},
      // A quote or dots inside a command word are text: the comment after
      // the word is one, and a quote after it opens no string.
      {"show x=' /*\nfunction hidden\n*/\nshow a...b /*\nfunction hidden2\n*/\nfunction shown\n",
       {{"shown", "", "function shown\n", 6, false, false}},
       kEndOfFile},
      {"show x=' %' /*\nfunction shown\n", {{"shown", "", "function shown\n", 1, false, false}}, kEndOfFile},
      // Comments that open after a header's separator or after "endfunction".
      {"function y = f(x); /* older:\nfunction g\nendfunction\n*/\n y = x;\nendfunction\n",
       {{"f", "", "function y = f(x); /* older:\nfunction g\nendfunction\n*/\n y = x;\nendfunction\n", 0, false,
         false}},
       kEndOfFile},
      {"function f\nendfunction /* older:\nfunction g\n*/\nfunction h\n",
       {{"f", "", "function f\nendfunction /* older:\nfunction g\n*/\n", 0, false, false},
        {"h", "", "function h\n", 4, false, false}},
       kEndOfFile},
      // Definitions and headers over lines.
      {"define k = [1 2\n  3 4]\ndefine m = 1 + ...\n  2\nx = 1\n",
       {{"k", "", "define k = [1 2\n  3 4]\n", 0, false, true}, {"m", "", "define m = 1 + ...\n  2\n", 2, false, true}},
       kEndOfFile},
      {"function r = f(a, b = [1\n  2])\nendfunction\n",
       {{"f", "", "function r = f(a, b = [1\n  2])\nendfunction\n", 0, false, false}},
       kEndOfFile},
      {"function r /* result */ = f(x)\r\nendfunction\r\n",
       {{"f", "", "function r /* result */ = f(x)\r\nendfunction\r\n", 0, false, false}},
       kEndOfFile},
      {"use a\nx = 1\nendfunction\n", {}, kUnexpectedEndfunction},
      {"function a\nendfunction\nendfunction\n", {{"a", "", "function a\nendfunction\n", 0, false, false}},
       kUnexpectedEndfunction},
      {"include foo\nfunction f\n", {}, kIncludeNotPermitted},
      {"function\n", {}, kMissingFunctionName},
      {"function = f\n", {}, kBadFunctionHeader},
      {"function [a b f(x)\n", {}, kBadFunctionHeader},
      {"function a:b\n", {}, kBadFunctionHeader},
      {"function a::b::c\n", {}, kBadFunctionHeader},
      {"function f x\n", {}, kBadFunctionHeader},
      {"define k\n", {}, kBadDefinition},
      {"define k =\n", {}, kBadDefinition},
      {"", {}, kEndOfFile},
  };
  for (const ScanCase& sc : cases) {
    const std::string text = sc.text;
    DefinitionScan scan;
    SourceDefinition d{};
    std::vector<Def> got;
    int status = kOk;
    while ((status = fn_find_next_definition(eng.ctx(), text.data(), int32_t(text.size()), &scan, &d)) == kOk)
      got.push_back({std::string(d.name, size_t(d.name_length)),
                     d.class_name ? std::string(d.class_name, size_t(d.class_length)) : "",
                     text.substr(size_t(d.start), size_t(d.end - d.start)), d.line, d.is_private != 0,
                     d.is_define != 0});
    EXPECT_EQ(got, sc.defs) << sc.text;
    EXPECT_EQ(status, sc.status) << sc.text;
  }
}

TEST(UseLines, NamesAndErrors) {
  EngineBlock eng = EngineBlock::make(256 * 1024);
  struct Seen {
    std::vector<std::string> names;
    std::vector<bool> if_exists;
  } seen;
  auto visit = [](void* arg, const char* name, int32_t n, bool if_exists) -> int {
    auto* s = static_cast<Seen*>(arg);
    s->names.emplace_back(name, size_t(n));
    s->if_exists.push_back(if_exists);
    return kOk;
  };
  // "use" statements as the compiler reads statements: after a separator,
  // never inside a comment that a command word's quote does not hide.
  const std::string text =
      "use a, b_2 % comment\n  useifexists c;\nuser = 1\n/*\nuse hidden\n*/ x\nuse\n"
      "x = 1; use d\nshow x=' /*\nuse hidden2\n*/\nfunction f\n  use e\n";
  ASSERT_EQ(source_use_lines(eng.ctx(), text.data(), int32_t(text.size()), visit, &seen), kOk);
  EXPECT_EQ(seen.names, (std::vector<std::string>{"a", "b_2", "c", "d", "e"}));
  EXPECT_EQ(seen.if_exists, (std::vector<bool>{false, false, true, false, false}));
  EXPECT_EQ(source_use_lines(eng.ctx(), "use a,,b\n", 9, visit, &seen), kBadLibraryName);
}

}  // namespace
