// The font that Qt tests register and draw with (see qt_test_main.cpp).
#pragma once

constexpr char kTestFontFace[] = "DejaVu Sans";
constexpr int kTestFontPixels = 13;
