// The sample tile files, made by our own code: the tool's sample run writes
// them to disk and the page shows the EGA one before a file is loaded.
#pragma once

#include <cstdint>

// Fills tile_file_bytes(2) bytes of EGA and tile_file_bytes(4) bytes of CGA tiles.
void make_sample_tiles(uint8_t *ega_file, uint8_t *cga_file);
