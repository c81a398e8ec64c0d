// The static service table, slot by slot in its fixed order. A slot whose
// operation is not built yet holds null; its position is kept so that the
// order never changes.
#include "engine/core/service_table.h"

#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/convert.h"
#include "engine/core/errors.h"
#include "engine/core/events.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/options.h"
#include "engine/core/snapshot.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"

namespace {

template <typename F>
constexpr ServiceFn svc(F f) {
  return reinterpret_cast<ServiceFn>(f);
}

}  // namespace

const EngineServiceTable kEngineServices = {{
    svc(&engine_version_string),  // 0
    svc(&fn_find_by_name),  // 1
    svc(&fn_call_funarg),  // 2
    svc(&lib_find_builtin),  // 3
    svc(&lib_entry_by_index),  // 4
    svc(&lib_call_builtin),  // 5
    svc(&fn_call),  // 6
    svc(&exec_code_block),  // 7
    svc(&exec_check_halt_opcode),  // 8
    svc(&frame_return_discard),  // 9
    svc(&err_state_clear),  // 10
    svc(&interp_run),  // 11
    svc(&err_raise_id),  // 12
    svc(&interp_in_function),  // 13
    svc(&poll_abort),  // 14
    svc(&stk_depth),  // 15
    svc(&frame_unwind),  // 16
    svc(&err_get_position),  // 17
    svc(&err_set_position),  // 18
    svc(&stk_argcheck),  // 19
    svc(&stk_push_real),  // 20
    svc(&stk_push_inf),  // 21
    svc(&stk_push_nan),  // 22
    svc(&stk_push_logical_scalar),  // 23
    svc(&stk_push_complex),  // 24
    svc(&stk_push_empty),  // 25
    svc(&stk_push_no_value),  // 26
    svc(&stk_push_marker),  // 27
    svc(&stk_is_marker),  // 28
    svc(&stk_push_matrix),  // 29
    svc(&stk_push_double_nd),  // 30
    svc(&stk_push_single_nd),  // 31
    svc(&stk_push_typed_array),  // 32
    svc(&stk_push_char_array),  // 33
    svc(&stk_push_char_row),  // 34
    svc(&stk_push_logical_array),  // 35
    svc(&stk_top_matrix),  // 36
    svc(&stk_pop_real_scalar),  // 37
    svc(&stk_pop_complex_scalar),  // 38
    svc(&stk_get_int),  // 39
    svc(&stk_pop_int),  // 40
    svc(&stk_pop_bool),  // 41
    svc(&stk_pop_condition),  // 42
    svc(&stk_get_matrix),  // 43
    svc(&stk_get_real_scalar),  // 44
    svc(&stk_get_bool),  // 45
    svc(&stk_get_array_info),  // 46
    svc(&stk_get_double_array),  // 47
    svc(&stk_get_single_array),  // 48
    svc(&stk_get_typed_array),  // 49
    svc(&stk_promote_args),  // 50
    svc(&stk_get_multi_arrays),  // 51
    svc(&stk_make_real_top),  // 52
    svc(&stk_make_complex_top),  // 53
    svc(&stk_is_char),  // 54
    svc(&stk_is_logical),  // 55
    svc(&stk_convert_to_double),  // 56
    svc(&stk_convert_to_int),  // 57
    svc(&stk_push_cstr),  // 58
    svc(&stk_push_wstr),  // 59
    svc(&stk_push_str_buffer),  // 60
    svc(&stk_shrink_byte_string),  // 61
    svc(&stk_push_str_buffer_alias),  // 62
    svc(&stk_repush_str),  // 63
    svc(&stk_push_str_buffer2),  // 64
    svc(&stk_finish_byte_string),  // 65
    svc(&stk_push_bytes),  // 66
    svc(&stk_pop_string_buf),  // 67
    svc(&stk_get_string_buf),  // 68
    svc(&stk_get_cstring),  // 69
    svc(&stk_get_wstring),  // 70
    svc(&stk_reserve_top),  // 71
    svc(&stk_free_space),  // 72
    svc(&stk_remove),  // 73
    svc(&stk_move),  // 74
    svc(&stk_reverse),  // 75
    svc(&stk_dup),  // 76
    svc(&stk_transpose),  // 77
    svc(&stk_make_container),  // 78
    svc(&stk_get_container),  // 79
    svc(&stk_is_list),  // 80
    svc(&stk_is_struct),  // 81
    svc(&stk_is_object),  // 82
    svc(&stk_get_container_dims),  // 83
    svc(&stk_list_get),  // 84
    svc(&stk_struct_get_field),  // 85
    svc(&stk_expand_list),  // 86
    svc(&stk_container_field_at),  // 87
    svc(&stk_item_words),  // 88
    svc(&stk_descriptor_as_doubles),  // 89
    svc(&stk_push_descriptor),  // 90
    svc(&opt_make_struct),  // 91
    svc(&opt_read_struct),  // 92
    svc(&stk_pop_scalar_or_default),  // 93
    svc(&opt_get_number),  // 94
    svc(&opt_get_bool),  // 95
    svc(&io_write),  // 96
    svc(&io_printf),  // 97
    svc(&io_newline),  // 98
    svc(&io_set_buffering),  // 99
    svc(&io_control),  // 100
    svc(&io_read),  // 101
    svc(&fd_alloc),  // 102
    svc(&stk_push_object),  // 103
    svc(&stk_get_object),  // 104
    svc(&lib_call_by_name),  // 105
    svc(&engine_find_named_block),  // 106
    svc(&engine_get_event_poster),  // 107
    svc(&stk_export_size),  // 108
    svc(&stk_export_items),  // 109
}};
static_assert(sizeof(kEngineServices.slot) / sizeof(ServiceFn) == kServiceSlots);
