// Display-list records: {code, id, index, style bits, packed colour, n, data
// [n]}, all doubles. Writers go through a PlotWriter whose room check counts
// exactly what will be written; readers go through a PlotReader that bounds
// every record and every count by the record's length and the list end,
// because lists come from saved images.
#pragma once

#include <cstdint>

#include "graphics/plotlist/plot_store.h"
#include "graphics/plotlist/style_spec.h"

// Record fields.
enum : int32_t {
  kPlotRecCode = 0,
  kPlotRecId = 1,
  kPlotRecIndex = 2,
  kPlotRecStyle = 3,
  kPlotRecColour = 4,
  kPlotRecCount = 5,
  kPlotRecHead = 6,  // data begins here
};

// Record codes that the drawing and the opening of objects name.
enum : int32_t {
  kCodePolyline = 1,
  kCodeFreqPolyline = 2,
  kCodeLine = 4,
  kCodeCircles = 5,
  kCodeEllipses = 6,
  kCodeBars = 7,
  kCodeMultiPolyline = 8,
  kCodeImage = 9,
  kCodeCells = 10,
  kCodeColourMap = 11,
  kCodeActiveRegion = 12,
  kCodePolyline3 = 13,
  kCodeLine3 = 14,
  kCodePolygons = 15,
  kCodeMaterial = 16,
  kCodeLights = 17,
  kCodeSensor = 18,
  kCodeRational = 45,     // a rational function's record, dragged like a control
  kCodeEigenLocus = 46,
  kCodeZgrid = 47,        // charts, drawn when the subplot's grid bits are on
  kCodeSgrid = 48,
  kCodeHgrid = 49,
  kCodeNgrid = 50,
  kCodeZgridWn = 51,      // chart values: {value}
  kCodeZgridZeta = 52,
  kCodeSgridCircle = 53,
  kCodeSgridRay = 54,
  kCodeChartFirst = kCodeZgrid,
  kCodeChartLast = kCodeSgridRay,
  kCodeFlowText = 55,
  kCodeTextAt = 56,
  kCodeTextAt3 = 57,
  kCodeLegend = 58,
  kCodeSlider = 59,       // the on-screen controls, 59 to 65
  kCodeLogSlider = 60,
  kCodePushButton = 61,
  kCodeCheckBoxes = 62,
  kCodeRadioButtons = 63,
  kCodePopupMenu = 64,
  kCodeTextField = 65,
  kCodeTabStops = 66,
  kCodeFont = 67,
  kCodeFontReset = 68,
  kCodeOpenObject = 69,
};
constexpr int32_t kOpenObjectLength = kPlotRecHead + 1;
constexpr int32_t kRecHead = kPlotRecHead;  // header doubles before a record's data

// The list under construction: data, capacity in doubles, used count.
struct PlotWriter {
  double* data;
  int32_t capacity;
  int32_t used;
};

// 0 when k more doubles fit, else kPlotOverflow; nothing is written either way.
int plotwriter_reserve(const PlotWriter* w, int32_t k);
// Appends a record header announcing n data doubles, after reserving the
// whole record (6 + n); the caller then puts exactly n doubles.
int plotwriter_begin_record(PlotWriter* w, int32_t code, double id, double index, const StyleSpec* style,
                            int32_t n);
void plotwriter_put(PlotWriter* w, double v);
// Texts: `length` bytes packed 8 per double, the last one padded with zeros.
int32_t plotwriter_text_doubles(int32_t length);
void plotwriter_put_text(PlotWriter* w, const char* text, int32_t length);

// Appends the opening record {69, -1, -1, 0, 0, 1, s} when used + 7 <=
// capacity; false (nothing written) otherwise.
bool plotlist_open_object(double* data, int32_t capacity, int32_t* used, int32_t s);

// One record as the reader sees it: `data` holds exactly n doubles.
struct PlotRecord {
  int32_t at;    // index of the record in the list
  double code;   // whole numbers only name a code; see record_code
  int32_t code_int;  // -1 when the code is not a whole number 0..kMaxCode
  const double* head;
  const double* data;
  int32_t n;
};
constexpr int32_t kMaxRecordCode = 127;

struct PlotReader {
  const double* list;
  int32_t length;
  int32_t pos;  // the next record
};
void plotreader_init(PlotReader* r, const double* list, int32_t length, int32_t start);
// The record at pos, advancing pos past it. False at the list end, and when
// the header does not fit or its count does not add up: the walk ends there,
// since no next record can be found.
bool plotreader_next(PlotReader* r, PlotRecord* out);

// Whole numbers 0..max from a double; false for anything else (NaN,
// infinities, negatives, fractions are truncated first).
bool double_to_count(double v, int32_t max, int32_t* out);
// Data field i of a record as a count bounded by max; false beyond the data.
bool record_count(const PlotRecord& rec, int32_t i, int32_t max, int32_t* out);
// The record's StyleSpec: bits from field 3, colour from field 4 (bits 16-23
// red, 8-15 green, 0-7 blue). Values outside 32 bits give 0.
StyleSpec record_style(const PlotRecord& rec);
double pack_colour(uint8_t r, uint8_t g, uint8_t b);
