// A parsed plot style: the style bits and an RGB colour. Saved as part of
// instance records and the block header, so its layout is fixed.
#pragma once

#include <cstddef>
#include <cstdint>

// The last byte is named so that every StyleSpec{bits, r, g, b} zeroes it:
// as unnamed padding it carried whatever the stack held into saved records.
struct StyleSpec {
  uint32_t bits;
  uint8_t r, g, b;
  uint8_t reserved;
};
static_assert(sizeof(StyleSpec) == 8);
static_assert(offsetof(StyleSpec, r) == 4);

// Style bits. Kinds below kStyleKindInvisible are lines, kinds above it markers.
constexpr uint32_t kStyleBitsIndex = 0x7;
constexpr uint32_t kStyleBitDefault = 0x8;     // drawn in the figure's default style
constexpr uint32_t kStyleBitThick = 0x10;
constexpr uint32_t kStyleBitFill = 0x20;
constexpr uint32_t kStyleBitsPen = 0x30;    // thick and fill bits
constexpr uint32_t kStyleBitsKind = 0x3c0;
constexpr uint32_t kStyleBitStairs = 0x800;
constexpr uint32_t kStyleBitArrowFirst = 0x1000;
constexpr uint32_t kStyleBitArrowLast = 0x2000;
constexpr uint32_t kStyleKindSolid = 0x000;
constexpr uint32_t kStyleKindDashed = 0x040;
constexpr uint32_t kStyleKindDotted = 0x080;
constexpr uint32_t kStyleKindDashDot = 0x0c0;
constexpr uint32_t kStyleKindSolidN = 0x100;
constexpr uint32_t kStyleKindInvisible = 0x140;
constexpr uint32_t kStyleKindDot = 0x180;
constexpr uint32_t kStyleKindCircle = 0x1c0;
constexpr uint32_t kStyleKindCross = 0x200;
constexpr uint32_t kStyleKindPlus = 0x240;
constexpr uint32_t kStyleKindStar = 0x280;
constexpr uint32_t kStyleKindTriangleUp = 0x2c0;
constexpr uint32_t kStyleKindTriangleDown = 0x300;
constexpr uint32_t kStyleKindSquare = 0x340;
constexpr uint32_t kStyleKindDiamond = 0x380;
constexpr uint32_t kStyleKindNone = 0x3c0;
