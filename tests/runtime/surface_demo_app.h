// A built application whose plot handler draws a lit surface: surf of an
// 8 x 8 grid of the tilted plane z = x / 2 with one light and a material,
// optionally under a one-colour map and in perspective (camproj). Every
// facet of the plane has the same normal, so one colour is expected.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "runtime/fake_host.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "tools/imagetools/image_builder.h"

namespace surfdemo {

constexpr char kDescription[] =
    "instance demo\n"
    "figure \"Surface\"\n"
    "plot draw_surface()\n";

// The light comes from -x, half a radian up; material ambient 0.3, diffuse 0.7.
constexpr double kAzimuth = M_PI, kElevation = 0.5, kAmbient = 0.3, kDiffuse = 0.7;
constexpr uint32_t kBlockBytes = 4u << 20;

inline std::string source(bool with_map, bool perspective) {
  std::string s = "function draw_surface()\n  [X, Y] = meshgrid((0:7) / 3.5 - 1);\n";
  if (with_map) s += "  colormap([1 0.5 0]);\n";
  if (perspective) s += "  camproj('p');\n";
  s += "  lightangle(pi, 0.5);\n  material([0.3 0.7]);\n  surf(X, Y, X / 2);\nendfunction\n";
  return s;
}

// The lighting factor of every facet: the plane's normal (-1/2, 0, 1),
// normalised, against the light's direction.
inline double light_factor() {
  const double n = std::sqrt(1.25);
  const double dir[3] = {std::cos(kAzimuth) * std::cos(kElevation), std::sin(kAzimuth) * std::cos(kElevation),
                         std::sin(kElevation)};
  const double dot = (-0.5 * dir[0] + dir[2]) / n;
  return std::min(1.0, kAmbient + std::max(0.0, dot) * kDiffuse);
}

inline void open(FakeHost* host, bool with_map, bool perspective, double width, double height) {
  ASSERT_EQ(host->start(kBlockBytes, 64u << 20), 0);
  ASSERT_EQ(rt_register_library(host->block, g_builtin_table_host), 0);
  tnbuild::Builder builder(host->block, {{"demo", source(with_map, perspective)}});
  ASSERT_TRUE(builder.build(kDescription)) << builder.error;
  ASSERT_EQ(figure_layout_subplots(&host->block, 0, 0, width, 0, height), 0);
  ASSERT_EQ(inst_refresh(&host->block, 0), 0);
  ASSERT_EQ(figure_layout_subplots(&host->block, 0, 0, width, 0, height), 0);
}

}  // namespace surfdemo
