// The declaration function of an instance: its declaration text wrapped into
// a function whose outputs are the declared variables (and, without a
// tag-9 record, the ten plot and text settings), defined in the engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/runtime_block.h"

// The name the declaration function is defined under.
inline constexpr const char kDeclarationFunction[] = "_d_";

// The declared variables of an instance, in declaration order: the inputs
// of its tag-9 record, else its flagged value-store fields of code 106 and
// above. *from_record tells which.
int tn_declared_variables(RuntimeBlock* b, int32_t id, std::vector<int32_t>* codes, bool* from_record);

// The generated source for the declaration text (length bytes): 0,
// kRtNonexistentInstance, or kRtVarNotFound for a variable code without a
// name. Built on the heap, so its size is bounded by the text alone.
int tn_init_build_source(RuntimeBlock* b, int32_t id, const char* text, int32_t length, std::string* source);

// Builds the source and defines it under `name` in library `library` (0 for
// a reset); the engine's status from the definition.
int tn_init_source(RuntimeBlock* b, int32_t id, int32_t library, const char* name, const char* text, int32_t length);

// Runs the declaration function `name` of instance id and stores what it
// returns: each declared variable's result in the newest value-store row
// (a result that is the text '_undef' leaves the stored value; with a tag-9
// record it stores an empty value), then, without a tag-9 record and with
// declared variables, hands the ten settings to `subplots`, `subplotprops`,
// `subplotpos`, `subplotsize`, `subplotspring`, `subplotparam`, `tntitle`,
// `tnversion` and `tnhelp` in a figure context of the instance. With
// `clean_up` the function's code is removed afterwards, so the next reset
// can define it again. 0 when there is no such function; else the first
// failing status. The stacks are left as they were and the call context at
// instance 0.
int tn_init_run(RuntimeBlock** handle, int32_t id, const char* name, bool clean_up);

// Builds, defines and runs the declaration function of the instance's reset.
int tn_init_compile(RuntimeBlock** handle, int32_t id, const char* text, int32_t length);
