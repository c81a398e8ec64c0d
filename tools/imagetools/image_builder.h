// Builder of saved runtime images, for the image tools and the tests. It
// lays out a block as the program does (the engine, then the host's table in front), creates the
// instances of a build description, writes their records, names and
// value-store fields, compiles each instance's source into its library,
// resets every instance (its init handlers run) and cuts the block into the
// image's fourteen requests. The program has no
// writer; this one serves tnbuild, tnpack and the loader's round trips.
//
// The description holds one record per line:
//   instance NAME            title|version|help "TEXT"    var NAME
//   figure "TEXT"            menu "TEXT" [HANDLER]       entry "TEXT" HANDLER
//   item "TEXT" HANDLER      (a menu item; an empty TEXT makes it an alternative of the one before)
//   menutitle "TEXT"         section "TITLE;NAME"        endsection
//   submenu  endsubmenu  separator    (the nesting, gating and separator records)
//   declare "TEXT"           (the declaration text, one line of ZVR without double quotes)
//   init|terminate|idle|plot|resize HANDLER              capabilities N
//   press|drag|drag2|release|over|leave|wheel|drop|dragout ELEMENT HANDLER
//   derived HANDLER      change WATCHED HANDLER      commands "TEXT"
//   key "TEXT" HANDLER   (an empty TEXT catches every key)
//   call "NAME" HANDLER  (a function other instances reach with tncall)
//   embed "NAME" "DATA"  (embedded data for efopen; DATA takes \r, \n, \t,
//                         \\, \q for a double quote and \xHH)
// where HANDLER is `[out, ... =] function(in, ...)` over the instance's
// variables and the special variables (no function name: the inputs are
// copied to the outputs), and WATCHED a comma-separated list of variables
// or "-" for none. `commands` (a figure command text) must come first.
#pragma once

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/checked.h"
#include "engine/core/errors.h"
#include "engine/core/libraries.h"
#include "graphics/plotlist/plot_store.h"
#include "host/builtin_table_host.h"
#include "runtime/host_clock.h"
#include "runtime/image_loader.h"
#include "runtime/instances.h"
#include "runtime/name_table.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/special_vars.h"
#include "runtime/undo_store.h"
#include "tools/imagetools/engine_image_writer.h"

namespace tnbuild {

constexpr int32_t kFirstVariableCode = 1000;
constexpr int32_t kFirstFunctionCode = 20000;
constexpr size_t kMaxLibraryName = 32;
constexpr size_t kMaxInstanceName = 28;
constexpr int32_t kUnlinked = -1;  // an item's link ids before a paste links it
constexpr int32_t kNoFunction = -1;
constexpr int kMaxGrowths = 48;  // every growth loop ends
constexpr int64_t kScratchPerSourceByte = 3;

using Sections = std::vector<std::vector<uint8_t>>;  // kImageRequests of them

// What the program keeps beside its block for the engine: the clock's
// slots and the break flag (which nothing sets at build time). It outlives
// the block it was given to.
struct ToolHost {
  double clock_slots[kHostClockSlots] = {};
  BreakFlag break_flag{0};
};

// Sets a block up as the program does before it loads an image: text in
// UTF-8, so that the sources' literals compile to the program's characters;
// the clock and the break poll, so that init handlers run in slices, their
// tasks get their time and threadsleep sleeps, as at Reset Data.
inline int start_block(RuntimeBlock** handle, void* buffer, uint32_t size, ToolHost* host) {
  TN_TRY(runtime_block_init(handle, buffer, size, 0, 2));
  rt_set_display_format(*handle, kDisplayFormatUtf8);
  rt_set_break_poll(*handle, break_key_poll, &host->break_flag);
  rt_set_clock_callback(*handle, cpu_time_callback, host->clock_slots, kHostClockSlotBytes);
  return rt_register_library(*handle, g_builtin_table_host);
}

class Builder {
 public:
  // b: a block set up by start_block; sources: ZVR text per instance name.
  Builder(RuntimeBlock* b, std::map<std::string, std::string> sources) : b_(b), sources_(std::move(sources)) {}

  std::string error;
  // Names the description in messages ("NAME:LINE: ..."); empty: "line LINE: ...".
  std::string description_name;
  // Every function a handler names must exist when its line is read: the
  // instance's source defines it, or it is a built-in. The tools ask for
  // this; tests build handlers that never run without their functions.
  bool require_functions = false;
  // The build failed for want of room, and may succeed in a larger block.
  bool out_of_room = false;

  bool build(const std::string& description) {
    std::istringstream in(description);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
      ++number;
      why_.clear();
      if (!line_(line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string at = description_name.empty() ? "line " + std::to_string(number)
                                                        : description_name + ":" + std::to_string(number);
        // Without a reason the line was sound and its records did not fit.
        if (why_.empty() && error.empty()) out_of_room = true;
        if (error.empty()) error = at + ": " + (why_.empty() ? "no room for this line" : why_) + "\n    " + line;
        return false;
      }
    }
    if (!finish_instance_()) {
      out_of_room = true;
      error = "no room for the records of instance " + name_;
      return false;
    }
    return reset_all_();
  }

  // The image as its fourteen requests.
  Sections sections() {
    Sections out(kImageRequests);
    EngineContext* c = rt_engine(b_);
    const std::vector<uint8_t> engine = write_engine_image(c);
    const uint8_t* eh = engine.data();
    const int64_t cut[6] = {int64_t(tn::get_le32(eh + kImgDescTop)) * 4, int64_t(tn::get_le32(eh + kImgDataTop)) * 8,
                            int64_t(tn::get_le32(eh + kImgHeapWords)) * 8, int64_t(tn::get_le32(eh + kImgFnCount)) * 16,
                            int64_t(tn::get_le32(eh + kImgCodeWords)) * 2, tn::get_le32(eh + kImgSymbolBytes)};
    out[kReqEngineHeader].assign(eh, eh + kImageHeaderBytes);
    size_t at = kImageHeaderBytes;
    for (int k = 0; k < 6; ++k) {
      out[kReqEngineFirst + k].assign(eh + at, eh + at + cut[k]);
      at += size_t(cut[k]);
    }
    const PlotStore* store = rt_plot_store(b_);
    const int64_t main_bytes = (int64_t(store->n) + kPlotStoreOverhead) * 8;
    put_(out[kReqMain], rt_area(b_, kAreaMain), main_bytes);
    const int32_t n = b_->h.instance_count;
    if (n > 0) put_(out[kReqInstances], inst_at(b_, n - 1), int64_t(n) * kInstanceBytes);
    put_(out[kReqRecords], rt_record_words(b_), int64_t(b_->h.record_words) * 4);
    const NameTable* names = rt_name_table(b_);
    put_(out[kReqNames], names, name_table_bytes(names->count));
    UndoStore* values = rt_value_store(b_);
    const UndoSavedSizes vs = undo_store_saved_sizes(values);
    put_(out[kReqValueHead], values, vs.head_bytes);
    put_(out[kReqValues], undo_store_value_area(values), int64_t(vs.units) * 8);

    std::vector<uint8_t>& h = out[kReqHeader];
    h.assign(kRuntimeImageHeaderBytes, 0);
    auto word = [&](uint32_t off, uint32_t v) { tn::put_le32(h.data() + off, v); };
    word(kImgMainBytes, uint32_t(main_bytes));
    word(kImgInstanceCount, uint32_t(n));
    word(kImgRecordWords, uint32_t(b_->h.record_words));
    word(kImgNameBytes, uint32_t(out[kReqNames].size()));
    word(kImgReserved16, rt_table_fingerprint(c));  // a note of the tables, never read
    word(kImgValueHeadBytes, uint32_t(vs.head_bytes));
    word(kImgValueUnits, uint32_t(vs.units));
    word(kImgCurrentFigure, uint32_t(b_->h.current_figure));
    word(kImgNextInstanceId, uint32_t(b_->h.next_instance_id));
    h[kImgDefaultDebug] = b_->h.default_debug;
    word(kImgInteractionMode, uint32_t(b_->h.interaction_mode));
    const StyleSpec styles[2] = {b_->h.default_chart_style, b_->h.default_frame_style};
    for (int k = 0; k < 2; ++k) {
      word(kImgDefaultStyles + 8 * k, styles[k].bits);
      h[kImgDefaultStyles + 8 * k + 4] = styles[k].r;
      h[kImgDefaultStyles + 8 * k + 5] = styles[k].g;
      h[kImgDefaultStyles + 8 * k + 6] = styles[k].b;
    }
    h[kImgFlagByte] = b_->h.flag_byte;
    h[kImgBandDrawn] = b_->h.band_drawn;
    return out;
  }

 private:
  RuntimeBlock* b_;
  std::map<std::string, std::string> sources_;
  std::vector<int32_t> words_;  // the current instance's run
  std::string name_;
  int32_t id_ = -1;
  int32_t next_var_ = kFirstVariableCode;
  int32_t next_fn_ = kFirstFunctionCode;
  std::map<std::string, int32_t> functions_;  // function codes, shared by every instance
  std::map<std::string, int32_t> vars_;       // the current instance's variables
  std::map<std::string, std::string> var_instances_;  // every declared variable: its instance
  std::vector<int32_t> library_;          // the current instance's tag-43 data
  std::string why_;                       // what is wrong with the line being read
  std::map<int32_t, std::string> instance_names_;

  // The engine's report of the error that status ended, as it was stored
  // when it was raised (a later formatting would name the present position).
  std::string engine_report_(int status) {
    EngineContext* c = rt_engine(b_);
    char report[512] = {};
    int32_t length = 0;
    err_format_report(c, status, err_last_code(c) != status, report, int32_t(sizeof report), &length);
    return std::string(report, size_t(length > 0 ? length : 0));
  }

  // The first line (from 1) of src where word stands as a whole word
  // outside a % comment; 0 when none.
  static int32_t word_line_(const std::string& src, const std::string& word) {
    auto ident = [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_'; };
    std::istringstream in(src);
    std::string line;
    for (int32_t number = 1; std::getline(in, line); ++number) {
      line = line.substr(0, line.find('%'));
      for (size_t at = line.find(word); at != std::string::npos; at = line.find(word, at + 1))
        if ((at == 0 || !ident(line[at - 1])) && (at + word.size() >= line.size() || !ident(line[at + word.size()])))
          return number;
    }
    return 0;
  }

  // A compilation error of the instance's source, with the line it lies on:
  // the engine names it for errors in a function's body; for a malformed
  // header it is where the scan of the definitions stops, for a name that
  // nothing defines the first line that uses it.
  std::string source_error_(const std::string& src, const std::string& report) {
    const size_t slash = description_name.find_last_of('/');
    const std::string file =
        (slash == std::string::npos ? std::string() : description_name.substr(0, slash + 1)) + name_ + ".zvr";
    const size_t semi = report.rfind(';'), close = report.find(')', semi == std::string::npos ? 0 : semi);
    if (semi != std::string::npos && close != std::string::npos && close > semi + 1 &&
        report.find_first_not_of("0123456789", semi + 1) == close)
      return file + ": " + report;
    int32_t line = 0;
    DefinitionScan scan;
    SourceDefinition d{};
    int status = kOk;
    while ((status = fn_find_next_definition(rt_engine(b_), src.c_str(), int32_t(src.size()), &scan, &d)) == kOk) {
    }
    std::string what = report;
    if (status != kEndOfFile) {
      line = scan.line + 1;
    } else if (const size_t q = report.rfind('\''), p = q == std::string::npos ? q : report.rfind('\'', q - 1);
               p != std::string::npos) {
      const std::string name = report.substr(p + 1, q - p - 1);
      line = word_line_(src, name);
      what += ": '" + name + "' is used here, but it is no variable given a value before, no function of " + file +
              " and no built-in function";
    }
    std::string out = file;
    if (line > 0) out.append(":").append(std::to_string(line));
    return out.append(": ").append(what);
  }

  // Grows the block in place for what ran short, as the program grows its
  // own: the gain goes to the area the status names. False when the block
  // cannot grow (no grow callback, or its MemMax reached).
  bool grow_(int status) {
    RuntimeBlock** handle = rt_handle(b_);
    if (!rt_memory_expand(handle, status)) return false;
    b_ = *handle;
    return true;
  }

  // Records what is wrong with the current line; false, for returning.
  bool fail_(const std::string& why) {
    if (why_.empty()) why_ = why;
    return false;
  }

  static void put_(std::vector<uint8_t>& to, const void* from, int64_t bytes) {
    const uint8_t* p = static_cast<const uint8_t*>(from);
    to.assign(p, p + bytes);
  }

  static bool quoted_(std::istream& in, std::string* text) {
    in >> std::ws;
    if (in.get() != '"') return false;
    return bool(std::getline(in, *text, '"'));
  }

  // The escapes of an embed line's data.
  static bool unescape_(const std::string& in, std::string* out) {
    out->clear();
    for (size_t k = 0; k < in.size(); ++k) {
      if (in[k] != '\\') {
        *out += in[k];
        continue;
      }
      if (++k >= in.size()) return false;
      switch (in[k]) {
        case 'r': *out += '\r'; break;
        case 'n': *out += '\n'; break;
        case 't': *out += '\t'; break;
        case 'q': *out += '"'; break;
        case '\\': *out += '\\'; break;
        case 'x':
          if (k + 2 >= in.size()) return false;
          *out += char(std::strtol(in.substr(k + 1, 2).c_str(), nullptr, 16));
          k += 2;
          break;
        default: return false;
      }
    }
    return true;
  }

  void text_(std::vector<int32_t>& w, const std::string& s) {
    w.push_back(int32_t(s.size()));
    std::vector<int32_t> packed(size_t(rec_text_words(int64_t(s.size())) - 1), 0);
    if (!s.empty()) std::memcpy(packed.data(), s.data(), s.size());
    w.insert(w.end(), packed.begin(), packed.end());
  }

  void record_(int32_t tag, const std::vector<int32_t>& data) {
    words_.push_back(tag);
    words_.push_back(int32_t(data.size()) + kRecordHeadWords);
    words_.insert(words_.end(), data.begin(), data.end());
  }

  // A special variable or a variable of the current instance: a handler
  // reads and writes only its own instance's value store.
  bool code_of_(const std::string& name, int32_t* code) {
    for (int32_t i = 0; i < kSpecialVarRows; ++i)
      if (name == kSpecialVarTable[i].name) return (*code = kSpecialVarTable[i].code), true;
    auto it = vars_.find(name);
    if (it == vars_.end()) return false;
    *code = it->second;
    return true;
  }

  // The code under which the name table holds the name.
  bool named_code_(const std::string& name, int32_t* code) {
    const NameTable* t = rt_name_table(b_);
    for (int32_t k = 0; k < t->count; ++k)
      if (std::strncmp(name_entries(t)[k].name, name.c_str(), kNameBytes) == 0 && name.size() <= size_t(kNameBytes)) {
        *code = name_entries(t)[k].code;
        return true;
      }
    return false;
  }

  // Why a name is no variable of the current instance, when another
  // instance declares it; empty otherwise.
  std::string elsewhere_(const std::string& name, const std::string& of) {
    auto it = var_instances_.find(name);
    if (it == var_instances_.end()) return std::string();
    return "'" + name + "'" + of + " is a variable of instance " + it->second + ": a handler of instance " + name_ +
           " passes only the variables declared with var in instance " + name_;
  }

  static std::vector<std::string> names_(const std::string& list) {
    std::vector<std::string> out;
    std::istringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
      const size_t a = item.find_first_not_of(" \t[]"), z = item.find_last_not_of(" \t[]");
      if (a != std::string::npos) out.push_back(item.substr(a, z - a + 1));
    }
    return out;
  }

  // An argument of a handler: a declared variable or a special variable.
  bool argument_(const std::string& v, const std::string& fn, std::vector<int32_t>& w) {
    int32_t code = 0;
    if (code_of_(v, &code)) {
      w.push_back(code);
      return true;
    }
    const std::string of = fn.empty() ? "" : " of " + fn;
    if (v.find_first_not_of("0123456789.+-eE'\"") == std::string::npos || v[0] == '\'' || v[0] == '"')
      return fail_("'" + v + "'" + of + " is a value: a handler passes variables (declared with var) or special "
                   "variables (such as _x), never values; compute the value in the function");
    if (v[0] == '_') return fail_("'" + v + "'" + of + " is no special variable");
    if (const std::string why = elsewhere_(v, of); !why.empty()) return fail_(why);
    return fail_("'" + v + "'" + of + " is not declared: add `var " + v + "` to the instance before this line");
  }

  // A handler record names its function and variables by codes that the
  // name table maps to names of at most kNameBytes characters: a longer
  // name would be cut there, and the cut name call nothing or collide.
  bool name_fits_(const std::string& name, const char* what) {
    if (name.size() <= size_t(kNameBytes)) return true;
    return fail_("the " + std::string(what) + " name '" + name + "' is " + std::to_string(name.size()) +
                 " characters long; the application's name table holds names of at most " +
                 std::to_string(kNameBytes) + " characters");
  }

  // The function a handler names exists, and takes that many inputs and outputs.
  bool function_exists_(const std::string& fn, size_t nin, size_t nout) {
    if (!require_functions) return true;
    int32_t max_in = 0, max_out = 0;
    const std::string library = "_TN_" + name_;
    if (fn_find_by_name(rt_engine(b_), fn.c_str(), library.c_str(), 0, 0, &max_in, &max_out) != 0) {
      if (sources_.count(name_) == 0)
        return fail_("'" + fn + "' is not a built-in function, and " + name_ +
                     ".zvr, the source of the instance's functions, was not found beside the description");
      return fail_("'" + fn + "' is neither a function of " + name_ + ".zvr nor a built-in function");
    }
    if (max_in != kCountUnbounded && int64_t(nin) > max_in)
      return fail_("'" + fn + "' takes at most " + std::to_string(max_in) + " input(s); the handler passes " +
                   std::to_string(nin));
    if (max_out != kCountUnbounded && int64_t(nout) > max_out)
      return fail_("'" + fn + "' gives at most " + std::to_string(max_out) + " output(s); the handler takes " +
                   std::to_string(nout));
    return true;
  }

  // `[outs =] fn(ins)` as a handler description.
  bool handler_(const std::string& text, std::vector<int32_t>& w) {
    const size_t eq = text.find('='), open = text.find('('), close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
      return fail_("expected a handler: [outputs =] function(inputs)");
    const size_t fn_from = eq == std::string::npos || eq > open ? 0 : eq + 1;
    std::string fn = text.substr(fn_from, open - fn_from);
    fn.erase(0, fn.find_first_not_of(' '));
    fn.erase(fn.find_last_not_of(' ') + 1);
    const auto outs = fn_from == 0 ? std::vector<std::string>{} : names_(text.substr(0, eq));
    const auto ins = names_(text.substr(open + 1, close - open - 1));
    int32_t fcode = kNoFunction;
    if (!fn.empty() && !name_fits_(fn, "function")) return false;
    if (!fn.empty() && !function_exists_(fn, ins.size(), outs.size())) return false;
    if (!fn.empty()) {
      const auto known = functions_.find(fn);
      if (known != functions_.end()) {
        fcode = known->second;
      } else if (named_code_(fn, &fcode)) {
        functions_[fn] = fcode;  // a variable of that name: the table holds each name once
      } else {
        fcode = next_fn_++;
        if (fixtab_add(rt_name_table(b_), fcode, fn.c_str(), 0) != 0) return fail_("the name table is full");
        functions_[fn] = fcode;
      }
    }
    w.push_back(fcode);
    w.push_back(int32_t(ins.size()));
    w.push_back(int32_t(outs.size()));
    for (const auto* list : {&outs, &ins})
      for (const std::string& v : *list)
        if (!argument_(v, fn, w)) return false;
    return true;
  }

  bool line_(const std::string& line) {
    std::istringstream in(line);
    std::string word, text, rest;
    if (!(in >> word) || word[0] == '#') return true;
    std::vector<int32_t> data;
    static const std::map<std::string, int32_t> texts = {
        {"title", kTagTitle}, {"version", kTagVersion}, {"help", kTagHelp}, {"figure", kTagFigure},
        {"commands", kTagFigureOnly}, {"declare", kTagDeclaration}, {"menutitle", kTagSubmenuTitle},
        {"section", kTagSection}};
    static const std::map<std::string, int32_t> markers = {
        {"submenu", kTagSubmenuBegin}, {"endsubmenu", kTagSubmenuEnd}, {"separator", kTagSeparator},
        {"endsection", kTagGateEnd}};
    static const std::map<std::string, int32_t> handlers = {
        {"init", kTagInit}, {"terminate", kTagTerminate}, {"idle", kTagIdle}, {"plot", kTagPlot},
        {"resize", kTagResize}, {"derived", kTagDerived}, {"change", kTagChange}};
    static const std::map<std::string, int32_t> mouse = {
        {"press", kTagMousePress}, {"drag", kTagMouseDrag},   {"drag2", kTagMouseDrag2},
        {"release", kTagMouseRelease}, {"over", kTagMouseOver}, {"leave", kTagMouseLeave},
        {"wheel", kTagMouseWheel},   {"drop", kTagMouseDrop},  {"dragout", kTagMouseDragOut}};
    if (word == "instance") {
      if (!finish_instance_()) return false;
      if (!(in >> name_)) return fail_("an instance needs a name");
      if (name_.size() > kMaxInstanceName)
        return fail_("the instance name is longer than " + std::to_string(kMaxInstanceName) + " characters");
      return begin_instance_();
    }
    const bool known = texts.count(word) || markers.count(word) || handlers.count(word) || mouse.count(word) ||
                       word == "menu" || word == "var" || word == "embed" || word == "capabilities" ||
                       word == "entry" || word == "item" || word == "key" || word == "call";
    if (!known) return fail_("unknown record '" + word + "'");
    if (id_ < 0) return fail_("'" + word + "' comes before the first instance line");
    const std::string quote = "'" + word + "' takes a text in double quotes";
    if (texts.count(word)) {
      if (!quoted_(in, &text)) return fail_(quote);
      text_(data, text);
      record_(texts.at(word), data);
      return true;
    }
    if (markers.count(word)) {
      record_(markers.at(word), {});
      return true;
    }
    if (word == "menu") {
      // A menu item: its text, then its handler when one follows.
      if (!quoted_(in, &text)) return fail_(quote);
      text_(data, text);
      std::getline(in, rest);
      if (rest.find_first_not_of(' ') != std::string::npos && !handler_(rest, data)) return false;
      record_(kTagMenuTitle, data);
      return true;
    }
    if (word == "var") {
      if (!(in >> text)) return fail_("'var' takes a variable name");
      if (!name_fits_(text, "variable")) return false;
      if (vars_.count(text)) return fail_("'" + text + "' is declared twice in instance " + name_);
      for (int32_t i = 0; i < kSpecialVarRows; ++i)
        if (text == kSpecialVarTable[i].name)
          return fail_("'" + text + "' is a special variable: var declares the instance's own variables");
      // The table holds each name once: a name that another instance's
      // variable or a handler's function brought keeps its code (each
      // instance has its own value store).
      int32_t code = 0;
      if (!named_code_(text, &code)) {
        code = next_var_++;
        if (fixtab_add(rt_name_table(b_), code, text.c_str(), 0) != 0) return false;
      }
      vars_[text] = code;
      var_instances_.emplace(text, name_);
      return undo_store_add_field(rt_value_store(b_), id_, code, 1) == 0;
    }
    if (word == "embed") {
      std::string raw, bytes;
      if (!quoted_(in, &text) || !quoted_(in, &raw)) return fail_("'embed' takes a name and data in double quotes");
      if (!unescape_(raw, &bytes)) return fail_("bad escape in the data: \\r, \\n, \\t, \\\\, \\q and \\xHH are known");
      text_(data, text);
      text_(data, bytes);
      record_(kTagEmbedded, data);
      return true;
    }
    if (word == "capabilities") {
      int32_t v = 0;
      if (!(in >> v)) return fail_("'capabilities' takes a number");
      record_(kTagCapabilities, {v});
      return true;
    }
    if (word == "entry" || word == "item" || word == "key" || word == "call") {
      if (!quoted_(in, &text)) return fail_(quote);
      if (word == "item") data = {kUnlinked, kUnlinked};  // link instance id, link id
      text_(data, text);
    } else if (mouse.count(word)) {
      int32_t element = 0;
      if (!(in >> element)) return fail_("'" + word + "' takes an element id (-1: any element) before its handler");
      data.push_back(element);
    } else if (word == "change") {
      if (!(in >> text)) return fail_("'change' takes the watched variables (or -) before its handler");
      const auto watched = text == "-" ? std::vector<std::string>{} : names_(text);
      data.push_back(int32_t(watched.size()));
      for (const std::string& v : watched) {
        int32_t code = 0;
        if (!code_of_(v, &code)) {
          const std::string why = elsewhere_(v, "");
          return fail_(why.empty() ? "the watched variable '" + v + "' is not declared" : "the watched " + why);
        }
        data.push_back(code);
      }
    }
    std::getline(in, rest);
    if (!handler_(rest, data)) return false;
    record_(word == "entry"  ? kTagEntry
            : word == "item" ? kTagItem
            : word == "key"  ? kTagKey
            : word == "call" ? kTagCallEntry
            : mouse.count(word) ? mouse.at(word)
                                : handlers.at(word),
            data);
    return true;
  }

  bool begin_instance_() {
    vars_.clear();
    const std::string library = "_TN_" + name_;
    if (library.size() > kMaxLibraryName) return false;
    EngineContext* c = rt_engine(b_);
    int32_t slot = 0;
    if (lib_find_by_name(c, library.c_str(), int32_t(library.size()), 1, &slot) != 0) return false;
    const auto source = sources_.find(name_);
    const std::string src = source == sources_.end() ? std::string() : source->second;
    if (!src.empty()) {
      // A function's statement list, strings and names take about twice its
      // text of the free data-stack space: room for the whole source is
      // made first, so that a long source is not compiled once per growth.
      while (int64_t(rt_engine(b_)->data_capacity - uint32_t(rt_engine(b_)->data_top)) * 8 <
                 kScratchPerSourceByte * int64_t(src.size()) &&
             grow_(kDataStackOverflow)) {
      }
      int status = lib_compile_source(rt_engine(b_), slot, src.c_str(), int32_t(src.size()), 0);
      // A compilation short of room is made again, over what it defined,
      // once the block has grown for it.
      for (int growths = 0; status != 0 && rt_is_memory_code(status) && growths < kMaxGrowths && grow_(status);
           ++growths)
        status = lib_compile_source(rt_engine(b_), slot, src.c_str(), int32_t(src.size()), 1);
      if (status != 0) {
        error = source_error_(src, engine_report_(status));
        return false;
      }
    }
    id_ = b_->h.next_instance_id - 1;  // instance 0 exists already
    // The store leaves room for the instances and one spare slot.
    while (plotstore_resize(rt_plot_store(b_), rt_plot_store_doubles(b_, id_ + 2)) != 0)
      if (!grow_(kRtPlotOverflow)) return false;
    if (id_ > 0) {
      b_->h.instance_count = id_ + 1;
      inst_write_defaults(b_, inst_at(b_, id_), id_, 0);
      inst_layout_reset(b_, id_, true);
    } else {
      undo_store_remove_record(rt_value_store(b_), 0);
    }
    ++b_->h.next_instance_id;
    instance_names_[id_] = name_;
    UndoStore* values = rt_value_store(b_);
    if (undo_store_add_record(values, id_) != 0) return false;
    for (int32_t key = kKeyLayout; key <= kKeyHelp; ++key)
      if (undo_store_add_field(values, id_, key, 0) != 0) return false;
    std::vector<int32_t> header = {id_, slot};
    text_(header, name_);
    record_(kTagHeader, header);
    library_.clear();
    text_(library_, library);
    text_(library_, src);
    return true;
  }

  // Images are saved initialised: every instance is reset (its init
  // handlers run) here, and none runs when the program loads the image.
  bool reset_all_() {
    RuntimeBlock** handle = rt_handle(b_);
    for (int32_t k = 0; k < (*handle)->h.instance_count; ++k) {
      const int32_t id = inst_at(*handle, k)->id;
      int32_t start = 0;
      if (rec_find_instance(*handle, id, &start) != 0) continue;  // no records: nothing to run
      // A handler grows the block for itself; a reset that still ran short
      // is run again in a larger one, and its failed run shows nothing and
      // leaves nothing in the engine (rt_begin_step copies its state).
      int status = 0;
      for (int growths = 0;; ++growths) {
        const RtStep step = rt_begin_step(*handle);
        status = inst_reset(handle, id);
        if (!rt_grow_for_step(handle, step, status != 0 && rt_is_memory_code(status) && growths < kMaxGrowths,
                              status))
          break;
      }
      b_ = *handle;
      if (status != 0) {
        // The report names the function and the line of the source.
        error = "instance " + instance_names_[id] + ": its init handlers failed: " + engine_report_(status);
        return false;
      }
    }
    return true;
  }

  // Appends the run to the list and shows its first figure in subplot 0.
  bool finish_instance_() {
    if (id_ < 0) return true;
    // The library record closes the run, so that a figure command text can
    // follow the header directly.
    record_(kTagLibrary, library_);
    // One empty row, as a reset leaves it.
    if (undo_store_clear_record(rt_value_store(b_), id_) != 0) return false;
    const int64_t at = b_->h.record_words;
    while ((at + int64_t(words_.size())) * 4 > b_->h.area_size[kAreaRecords])
      if (!grow_(kRtNotEnoughMemForTNFile)) return false;
    std::memcpy(rt_record_words(b_) + at, words_.data(), words_.size() * 4);
    b_->h.record_words = int32_t(at + int64_t(words_.size()));
    Subplot& s = inst_find_by_id(b_, id_)->subplots[0];
    bool in_figure = false;
    for (size_t w = 0; w < words_.size(); w += size_t(words_[w + 1])) {
      const int32_t tag = words_[w];
      if (tag == kTagFigure) {
        if (in_figure) break;
        in_figure = true;
        s.handlerWords[kSubplotFigureWord] = int32_t(w);
      } else if (in_figure && tag == kTagPlot) {
        s.handlerWords[kSubplotPlotHandlerWord] = int32_t(w);
      } else if (in_figure && tag >= kTagMousePress && tag <= kTagMouseDragOut) {
        int32_t& slot = s.handlerWords[2 + tag - kTagMousePress];
        if (slot < 0) slot = int32_t(w);
      }
    }
    words_.clear();
    id_ = -1;
    return true;
  }
};

// Concatenates the requests: the flat stream.
inline std::vector<uint8_t> flat(const Sections& s) {
  std::vector<uint8_t> out;
  for (const auto& part : s) out.insert(out.end(), part.begin(), part.end());
  return out;
}

}  // namespace tnbuild
