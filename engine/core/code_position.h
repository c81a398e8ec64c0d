// Code positions: where compiled code runs from. A position is an area kind
// and a byte offset (it survives the block moving); an instruction pointer is
// made from it for one step at a time. Below both the interpreter and the
// frames, which store and restore positions.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Base address of a code area kind (null for kind 0 or an unknown kind) and
// its size in bytes.
const uint8_t* code_area_base(EngineContext* ctx, int32_t kind, int64_t* bytes);

// The current position as a pointer (null for kind 0, an unknown kind or an
// offset outside its area), and a pointer stored back as an offset in the
// current position's area.
const uint16_t* code_get_pc(EngineContext* ctx);
void code_set_pc(EngineContext* ctx, const uint16_t* pc);

// The engine's static code block (area kind kAreaStatic): fixed instruction
// sequences that frames can return into.
constexpr uint32_t kStaticHaltOffset = 0;  // a lone halt
