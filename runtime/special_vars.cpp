// The table of special handler variables and the set-up of the block's
// tables: name table, value store, plot store and instance bookkeeping.
#include "runtime/special_vars.h"

#include "engine/core/fntable.h"
#include "graphics/plotlist/plot_store.h"
#include "runtime/instances.h"
#include "runtime/name_table.h"
#include "runtime/undo_store.h"

const SpecialVarDef kSpecialVarTable[kSpecialVarRows + 1] = {
    {2, "_z"},       {3, "_z0"},      {4, "_z1"},        {5, "_x"},       {6, "_x0"},
    {7, "_x1"},      {8, "_y"},       {9, "_y0"},        {10, "_y1"},     {11, "_theta"},
    {12, "_theta0"}, {13, "_theta1"}, {14, "_rho"},      {15, "_rho0"},   {16, "_rho1"},
    {17, "_p0"},     {18, "_p1"},     {19, "_kx"},       {20, "_ky"},     {21, "_dx"},
    {22, "_dy"},     {23, "_q"},      {25, "_id"},       {26, "_nb"},     {27, "_ix"},
    {24, "_m"},      {28, "_param"},  {29, "_key"},      {30, "_fd"},     {31, "_width"},
    {32, "_height"}, {33, "_xdata"},  {34, "_xdatatype"}, {35, "_msg"},   {36, "_cursor"},
    {37, "_idlerate"}, {38, "_idleamount"}, {100, "_pl"}, {101, "_ppl"},  {102, "_3d"},
    {103, "_title"}, {104, "_version"}, {105, "_help"},  {-1, ""},
};

int special_vars_init(RuntimeBlock* b, bool reset_engine) {
  NameTable* names = nullptr;
  UndoStore* values = nullptr;
  const int name_status = fixtab_init(&names, rt_area(b, kAreaNames), b->h.area_size[kAreaNames]);
  // The value store is formatted even when the name table failed.
  TN_TRY(undo_store_init(&values, rt_area(b, kAreaValues), b->h.area_size[kAreaValues]));
  TN_TRY(name_status);
  for (int32_t i = 0; i < kSpecialVarRows; ++i)
    TN_TRY(fixtab_add(names, kSpecialVarTable[i].code, kSpecialVarTable[i].name, 0));
  plotstore_init(rt_plot_store(b), rt_plot_store_doubles(b, 1));
  b->h.instance_count = 1;
  b->h.next_instance_id = 1;
  b->h.current_figure = 0;
  TN_TRY(inst_layout_reset(b, 0, false));
  b->h.record_words = 0;
  if (reset_engine) {
    fn_table_reset(rt_engine(b));
  }
  b->h.busy = 0;
  b->h.cursor_kind = 1;
  return 0;
}
