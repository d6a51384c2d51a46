// PNG input for qelega_pack, in the bitmap library's buffer layout.
#pragma once

#include <cstdint>
#include <cstdio>

#include "bitmap.h"

// Reads a PNG of any colour type and bit depth from the stream's current
// position into a top-down 24-bit buffer (blue, green, red), with the record
// that init_bitmap_header makes for it. The stored samples are taken as they
// are (no gamma or colour profile is applied, 16-bit samples keep their high
// byte) and alpha is composited on black by composite_on_black.
// *pixels always belongs to the caller. 0, -1 unreadable or too large, -2 out
// of memory.
int read_png(FILE *stream, bitmap_header *header, uint8_t **pixels);
