// Binds the C++ core compiled to WebAssembly: copies buffers in and out and
// turns its signed results into values or errors. No other module touches
// the core's memory.
import createCore from 'qelega-core-wasm';

let core = null;
let printed = [];

// The layout of the sheet, as the core defines it; set once the core is loaded.
export let SHEET_WIDTH = 0;
export let SHEET_HEIGHT = 0;
export let TILE_SIZE = 0;
export let SHEET_COLUMNS = 0;
export let TILE_COUNT = 0;

export async function loadCore() {
  const collect = (line) => printed.push(line);
  core = await createCore({ print: collect, printErr: collect });
  SHEET_WIDTH = core._core_canvas_width();
  SHEET_HEIGHT = core._core_canvas_height();
  TILE_SIZE = core._core_tile_size();
  SHEET_COLUMNS = SHEET_WIDTH / TILE_SIZE;
  TILE_COUNT = SHEET_COLUMNS * (SHEET_HEIGHT / TILE_SIZE);
}

const flag = (value) => (value ? 1 : 0);

// What the library printed since the last call: its own error lines.
function takePrinted() {
  const lines = printed.join('\n');
  printed = [];
  return lines;
}

function copyOut(pointer, length) {
  return core.HEAPU8.slice(pointer, pointer + length);
}

// Runs `use` with `bytes` copied into the core's memory; frees them after.
function withCopyIn(bytes, use) {
  const pointer = core._core_alloc(bytes.length);
  if (pointer === 0) throw new Error('out of memory');
  try {
    core.HEAPU8.set(bytes, pointer);
    return use(pointer);
  } finally {
    core._core_free(pointer);
  }
}

export function tileFileBytes(cga) {
  return core._core_tile_file_bytes(flag(cga));
}

export function sampleTiles() {
  core._core_load_sample();
  return copyOut(core._core_tiles(), tileFileBytes(false));
}

// The whole tile buffer, for the editor's history.
export function tileBuffer() {
  return copyOut(core._core_tiles(), tileFileBytes(false));
}

export function setTiles(bytes) {
  core.HEAPU8.set(bytes.subarray(0, Math.min(bytes.length, tileFileBytes(false))), core._core_tiles());
}

// The current tile file as the core holds it after packing.
export function tiles(cga) {
  return copyOut(core._core_tiles(), tileFileBytes(cga));
}

// The sheet's palette indices, one byte a pixel, row 0 at the top.
export function render({ cga, dungeon, mirrorRoom, remakeWater }) {
  const pointer = core._core_render(flag(cga), flag(dungeon), flag(mirrorRoom), flag(remakeWater));
  return copyOut(pointer, SHEET_WIDTH * SHEET_HEIGHT);
}

// Redraws `tiles` into `indices`, the sheet that render gave.
export function renderTiles(indices, tiles, { cga, dungeon, mirrorRoom, remakeWater }) {
  for (const tile of tiles) {
    const pointer = core._core_render_tile(tile, flag(cga), flag(dungeon), flag(mirrorRoom), flag(remakeWater));
    const left = (tile % SHEET_COLUMNS) * TILE_SIZE;
    for (let y = 0, top = Math.floor(tile / SHEET_COLUMNS) * TILE_SIZE; y < TILE_SIZE; y++) {
      const start = (top + y) * SHEET_WIDTH + left;
      indices.set(core.HEAPU8.subarray(pointer + start, pointer + start + TILE_SIZE), start);
    }
  }
}

// Edits of the stored tiles; a tile is named by its number.
export const edit = {
  pixel: (tile, y, x, cga) => core._core_tile_pixel(tile, y, x, flag(cga)),
  setPixel: (tile, y, x, value, cga) => core._core_set_pixel(tile, y, x, value, flag(cga)),
  fill: (tile, y, x, value, cga) => core._core_fill(tile, y, x, value, flag(cga)),
  flip: (tile, horizontally, cga) => core._core_flip(tile, flag(horizontally), flag(cga)),
  swap: (a, b, cga) => core._core_swap(a, b, flag(cga)),
  copy: (tile, cga) => core._core_copy_tile(tile, flag(cga)),
  paste: (tile, cga) => core._core_paste_tile(tile, flag(cga)),
};

// The mode's 16 palette entries as [red, green, blue].
export function palette(cga) {
  const bytes = copyOut(core._core_palette(flag(cga)), 16 * 4);
  return Array.from({ length: 16 }, (_, i) => [bytes[4 * i + 2], bytes[4 * i + 1], bytes[4 * i]]);
}

// The BMP file of the last rendered sheet, byte for byte as qelega_shapes writes it.
export function bitmapFile(cga) {
  const length = core._core_write_bitmap(flag(cga));
  if (length < 0) throw new Error(takePrinted() || 'the bitmap could not be written');
  return copyOut(core._core_bitmap_file(), length);
}

export function tileAttributes(tile) {
  const mask = core._core_water_mask(tile);
  return {
    grass: core._core_is_grass(tile) !== 0,
    maskTile: Math.abs(mask),
    inverted: mask < 0,
    plainWater: tile === core._core_plain_water_tile(),
  };
}

// A refused sheet: the library's lines, and its size when that was the reason.
export class PackError extends Error {
  constructor(message, width, height) {
    super(message);
    this.width = width;
    this.height = height;
  }
}

function packed(result) {
  const width = core._core_sheet_width();
  const height = core._core_sheet_height();
  const lines = takePrinted();
  if (result >= 0) return result;
  const wrongSize = width !== 0 && (width !== SHEET_WIDTH || height !== SHEET_HEIGHT);
  throw new PackError(lines || (result === -2 ? 'out of memory' : 'unreadable sheet'),
    wrongSize ? width : 0, wrongSize ? height : 0);
}

// Packs an edited BMP sheet into the current tile file; the pixels changed.
export function packBitmap(bytes, cga) {
  return packed(withCopyIn(bytes, (pointer) => core._core_pack_bitmap(pointer, bytes.length, flag(cga))));
}

// Packs straight RGBA pixels of a decoded PNG; the pixels changed.
export function packRgba(rgba, width, height, cga) {
  return packed(withCopyIn(rgba, (pointer) => core._core_pack_rgba(pointer, width, height, flag(cga))));
}
