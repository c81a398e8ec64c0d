// Saved images for the image targets' seeds, built in the smallest block the
// runtime lays out: an image carries its areas whole, empty room included,
// so a small block gives a small seed whose bytes are mostly content, and the
// fuzzer's mutations land on records, names and values instead of zeros.
// The applications between them use every kind of record the builder writes,
// and one is saved with engine threads waiting (task records in its image).
// Any of them can be given instances as a running program leaves them.
#pragma once

#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/checked.h"
#include "runtime/image_loader.h"
#include "runtime/instances.h"
#include "runtime/runtime_block.h"
#include "tools/imagetools/image_builder.h"

namespace fuzzseed {

struct App {
  const char* description;
  std::map<std::string, std::string> sources;
};

inline const std::vector<App>& apps() {
  static const std::vector<App> list = {
      // One instance, a variable, its init and drag handlers, a figure.
      {"instance demo\nvar x\ninit x = demo_init()\nfigure \"F\"\ndrag -1 x = demo_init()\n",
       {{"demo", "function x = demo_init()\n x = 1;\nendfunction\n"}}},
      // Texts, menus of every shape, gated sections, keys, calls, embedded data.
      {"instance menus\n"
       "title \"Menus\"\nversion \"Menus 1.0\"\nhelp \"How to use it\"\ncapabilities 3\n"
       "declare \"y = 2; _title = 'Declared';\"\n"
       "var x\nvar y\ninit x = m_init()\n"
       "entry \"Value\" _xdata, _xdatatype = m_copy(x)\nitem \"Value\" x = m_paste(_xdata)\nitem \"\" x = m_paste(_xdata)\n"
       "menutitle \"Tools\"\nmenu \"Bump\" x = m_bump(x)\nseparator\nsubmenu\nmenu \"Inner\" y = (x)\nendsubmenu\n"
       "section \"English;en\"\nmenutitle \"Greeting\"\nmenu \"Hello\" x = m_bump(x)\n"
       "section \"Francais;fr\"\nmenu \"Bonjour\"\nendsection\n"
       "key \"a\" x = m_bump(x)\nkey \"\" y = (_key)\ncall \"bump\" x = m_bump(x)\n"
       "embed \"lines\" \"one\\ntwo\\r\\nthree\"\nembed \"bytes\" \"\\x00\\xff\\q\"\n"
       "figure \"Main\"\nplot m_plot(x)\npress 1 x = m_bump(x)\nrelease -1 x = (_x)\nwheel 2 y = (_x)\n"
       "drag2 3 y = (_x)\nleave 0 y = (_x)\ndrop -1 y = (_x)\ndragout 1 y = (_x)\n",
       {{"menus",
         "function x = m_init()\n x = [1 2; 3 4];\nendfunction\n"
         "function x = m_bump(x)\n x = x + 1;\nendfunction\n"
         "function [d, t] = m_copy(x)\n d = x; t = 'value';\nendfunction\n"
         "function x = m_paste(d)\n x = d;\nendfunction\n"
         "function m_plot(x)\n plot(1:4, x(:)');\nendfunction\n"}}},
      // Engine threads started by init and still waiting when the image is
      // saved: the image carries their task records, which a load moves.
      {"instance tasks\nvar n\nvar s\ninit n, s = t_init()\n",
       {{"tasks",
         "function [n, s] = t_init()\n s = semaphorenew(); semaphorelock(s);\n"
         " n = [threadnew(@t_wait, threadset(), s), threadnew(@t_wait, threadset(), s)];\nendfunction\n"
         "function t_wait(s)\n semaphorelock(s);\nendfunction\n"}}},
      // Two instances: derived and change handlers, a figure command text,
      // idle and resize handlers, values of several classes in the store.
      {"instance first\ncommands \"plot([1 2 3], [3 1 2]);\"\n"
       "var a\nvar b\nvar s\ninit a, s = f_init()\nderived b = f_twice(a)\nchange a,b b = f_twice(a)\n"
       "idle a = (a)\nresize b = (b)\nterminate f_done()\n"
       "instance second\nvar c\ninit c = g_init()\nfigure \"One\"\nover 0 c = (_x)\nfigure \"Two\"\nplot g_plot(c)\n",
       {{"first",
         "function [a, s] = f_init()\n a = 1:5; s = struct('name', 'first', 'cell', {{1, 'two'}});\nendfunction\n"
         "function b = f_twice(a)\n b = 2 * a;\nendfunction\n"
         "function f_done()\nendfunction\n"},
        {"second",
         "function c = g_init()\n c = 'text of the second';\nendfunction\n"
         "function g_plot(c)\n plot([0 1], [1 0]);\nendfunction\n"}}},
  };
  return list;
}

// The image of one application as its fourteen requests, built in the
// smallest usable block (a quarter larger again while it does not fit).
inline bool build(const App& app, tnbuild::Sections* out, std::string* error) {
  for (uint32_t bytes = rt_min_block_bytes(); bytes <= (8u << 20); bytes += bytes / 4) {
    std::unique_ptr<double[]> buffer(new double[bytes / sizeof(double)]());
    RuntimeBlock* block = nullptr;
    tnbuild::ToolHost host;
    if (tnbuild::start_block(&block, buffer.get(), bytes, &host) != 0) continue;
    tnbuild::Builder builder(block, app.sources);
    if (builder.build(app.description)) {
      *out = builder.sections();
      return true;
    }
    *error = builder.error;
  }
  return false;
}

// The image with every instance as a running program leaves it: init
// handlers running, an idle mode, times due. A load settles these fields,
// so a seed that holds them shows a load that leaves one unsettled.
inline tnbuild::Sections unsettled(tnbuild::Sections s) {
  std::vector<uint8_t>& instances = s[kReqInstances];
  const int32_t state = 1, mode = 3;
  const double due = 12.5, base = 2.5;
  for (size_t at = 0; at + kInstanceBytes <= instances.size(); at += kInstanceBytes) {
    uint8_t* rec = instances.data() + at;
    std::memcpy(rec + offsetof(InstanceRec, state), &state, sizeof state);
    std::memcpy(rec + offsetof(InstanceRec, idle_mode), &mode, sizeof mode);
    std::memcpy(rec + offsetof(InstanceRec, next_due), &due, sizeof due);
    std::memcpy(rec + offsetof(InstanceRec, idle_base), &base, sizeof base);
  }
  return s;
}

// The image with junk where the header's reserved word 16 lies (none,
// another table's fingerprint, patterns) and flag bytes neither 0 nor 1:
// the loader reads none of the one and takes any non-zero flag as set.
inline std::vector<tnbuild::Sections> junk_header_words(const tnbuild::Sections& s) {
  std::vector<tnbuild::Sections> out;
  const uint32_t fingerprint = tn::get_le32(s.at(kReqHeader).data() + kImgReserved16);
  for (uint32_t word : {0u, fingerprint ^ 1, 0x5A5A5A5Au, 0xFFFFFFFFu}) {
    tnbuild::Sections junk = s;
    tn::put_le32(junk[kReqHeader].data() + kImgReserved16, word);
    junk[kReqHeader][kImgDefaultDebug] = 0xFF;
    junk[kReqHeader][kImgBandDrawn] = 0x80;
    out.push_back(std::move(junk));
  }
  return out;
}

}  // namespace fuzzseed
