// Record codes of the frame stream: the first int of every record. The simulation
// thread writes them (tick walk, packers, FFI::Draw); the draw iteration reads them.
#pragma once

#include <cstdint>

// Top level.
constexpr int32_t record_nop = 0;
constexpr int32_t record_screenshot = 6;
constexpr int32_t record_set_grid = 7;
constexpr int32_t record_passes = 8;
constexpr int32_t record_unload_sprite = 10;
constexpr int32_t record_toggle_cursor = 11;
constexpr int32_t record_toggle_fullscreen = 12;
constexpr int32_t record_set_window_scale = 13;
constexpr int32_t record_upload_pixel_array = 14;
constexpr int32_t record_openurl = 15;
constexpr int32_t record_set_cursor = 16;
constexpr int32_t record_set_system_cursor = 17;
constexpr int32_t record_set_mouse_grab = 19;
constexpr int32_t record_set_window_title = 20;
constexpr int32_t record_a11ys = 21;

// Inside a pass.
constexpr int32_t record_solid = 1;
constexpr int32_t record_sprite = 2;
constexpr int32_t record_label = 3;
constexpr int32_t record_line = 4;
constexpr int32_t record_border = 5;
constexpr int32_t record_end_pass = 9;
constexpr int32_t record_triangle = 18;

// Fields after the code of each primitive record.
constexpr int record_solid_fields = 12;
constexpr int record_sprite_fields = 29;
constexpr int record_label_fields = 18;
constexpr int record_line_fields = 10;
constexpr int record_border_fields = 12;
constexpr int record_triangle_fields = 22;

// Frame stream header: time stamp slot, then the int 1.
constexpr int32_t frame_header_marker = 1;

// Event stream: a 64-bit count, then raw SDL_Event records of this size.
constexpr uint64_t event_record_size = 56;
