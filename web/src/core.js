// Binds the C++ core compiled to WebAssembly: copies buffers in and out and
// turns its signed results into values or errors. No other module touches
// the core's memory, and the page asks the core, through here, for every
// fact about tiles: sizes, colours, where a tile lies, what an edit touches.
import wasmBase64 from 'qelega-core-binary';
import createCore from 'qelega-core-wasm';

let core = null;
let printed = [];

// The sheet's layout, as the core defines it; set once the core is loaded.
export let SHEET_WIDTH = 0;
export let SHEET_HEIGHT = 0;
export let TILE_SIZE = 0;
export let SHEET_COLUMNS = 0;
export let TILE_COUNT = 0;
// The result of a refused sheet whose size is not the sheet's.
export let WRONG_SHEET_SIZE = 0;
// The most tiles a scene has across or down.
export let MAX_SCENE_TILES = 0;
// The patch formats by their file extensions, as the core numbers them.
const PATCH_FORMATS = {};

const flag = (value) => (value ? 1 : 0);

// A refusal of the core: its result and the lines it printed.
class CoreError extends Error {
  constructor(message, result) {
    super(message);
    this.result = result;
  }
}

// The WebAssembly is inside the page as base64; the browser's own decoder
// is many times quicker than a loop that has not been compiled yet.
function wasmBinary() {
  if (Uint8Array.fromBase64) return Uint8Array.fromBase64(wasmBase64);
  return Uint8Array.from(atob(wasmBase64), (c) => c.charCodeAt(0));
}

export async function loadCore() {
  const collect = (line) => printed.push(line);
  core = await createCore({ wasmBinary: wasmBinary(), print: collect, printErr: collect });
  SHEET_WIDTH = core._core_canvas_width();
  SHEET_HEIGHT = core._core_canvas_height();
  TILE_SIZE = core._core_tile_size();
  SHEET_COLUMNS = core._core_sheet_columns();
  TILE_COUNT = core._core_tile_count();
  WRONG_SHEET_SIZE = core._core_wrong_sheet_size();
  MAX_SCENE_TILES = core._core_max_scene_tiles();
  Object.assign(PATCH_FORMATS, { bps: core._core_patch_bps(), ips: core._core_patch_ips() });
}

// What the core printed since the last call: its refusals and reports.
function takePrinted() {
  const lines = printed.join('\n');
  printed = [];
  return lines;
}

function copyOut(pointer, length) {
  return core.HEAPU8.slice(pointer, pointer + length);
}

function stringAt(pointer) {
  const end = core.HEAPU8.indexOf(0, pointer);
  return new TextDecoder().decode(core.HEAPU8.subarray(pointer, end));
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

// A string for the core: UTF-8, ending in NUL.
function withString(text, use) {
  return withCopyIn(new TextEncoder().encode(`${text}\0`), use);
}

// A result that is negative becomes an error with the core's own lines.
function checked(result, otherwise) {
  const lines = takePrinted();
  if (result < 0) throw new CoreError(lines || (result === -2 ? 'out of memory' : otherwise), result);
  return { result, lines };
}

// ---- facts

// Where a tile lies on the sheet: its top left pixel.
export function tilePlace(tile) {
  return { x: core._core_tile_left(tile), y: core._core_tile_top(tile) };
}

// The tile that holds sheet pixel (x, y).
export function tileAt(x, y) {
  return core._core_tile_at(x, y);
}

export function tileFileBytes(cga) {
  return core._core_tile_file_bytes(flag(cga));
}

export function colorCount(cga) {
  return core._core_color_count(flag(cga));
}

export function colorName(index, cga) {
  return stringAt(core._core_color_name(index, flag(cga)));
}

// The mode's 16 palette entries as [red, green, blue].
export function palette(cga) {
  const bytes = copyOut(core._core_palette(flag(cga)), 16 * 4);
  return Array.from({ length: 16 }, (_, i) => [bytes[4 * i + 2], bytes[4 * i + 1], bytes[4 * i]]);
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

// The tiles to redraw after an edit of `tiles`: those, and the water tiles made from them.
export function tilesDrawnFrom(tiles) {
  const all = new Set();
  for (const tile of tiles) {
    const count = core._core_tiles_drawn_from(tile);
    for (const t of new Int32Array(core.HEAPU8.buffer, core._core_drawn_from(), count)) all.add(t);
  }
  return [...all];
}

// ---- the tile file and the sheet

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

// The current tile file of the mode.
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
    const { x, y } = tilePlace(tile);
    for (let row = y; row < y + TILE_SIZE; row++) {
      const start = row * SHEET_WIDTH + x;
      indices.set(core.HEAPU8.subarray(pointer + start, pointer + start + TILE_SIZE), start);
    }
  }
}

// The picture of a scene, `columns` x `rows` tile numbers, from the sheet
// as last rendered: palette indices, one byte a pixel, row 0 at the top. A
// view of the core's memory, so no megabyte is copied on each redraw: use
// it before the next call.
export function drawScene(cells, columns, rows) {
  const bytes = new Uint8Array(cells.buffer, cells.byteOffset, columns * rows * 2);
  const pointer = withCopyIn(bytes, (at) => core._core_draw_scene(at, columns, rows));
  if (pointer === 0) throw new Error(`a scene is 1 to ${MAX_SCENE_TILES} tiles across and down`);
  return core.HEAPU8.subarray(pointer, pointer + columns * rows * TILE_SIZE * TILE_SIZE);
}

// Palette indices as RGBA, through `words` (16 RGBA words), into `image`'s
// pixels: a view of the core's memory, as drawScene.
export function fillImage(image, indices, words) {
  const table = new Uint8Array(words.buffer, words.byteOffset, 64);
  const inCore = indices.buffer === core.HEAPU8.buffer;
  const pointer = withCopyIn(table, (at) => (inCore
    ? core._core_rgba(indices.byteOffset, indices.length, at)
    : withCopyIn(indices, (from) => core._core_rgba(from, indices.length, at))));
  if (pointer === 0) throw new Error('the picture is too large');
  image.data.set(core.HEAPU8.subarray(pointer, pointer + indices.length * 4));
  return image;
}

// The BMP file of the last rendered sheet, byte for byte as qelega_shapes writes it.
export function bitmapFile(cga) {
  const { result } = checked(core._core_write_bitmap(flag(cga)), 'the bitmap could not be written');
  return copyOut(core._core_bitmap_file(), result);
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

// ---- packing an edited sheet

// 'bmp' or 'png', told by the first bytes.
export function sheetFormat(bytes, name) {
  const format = withString(name, (n) => withCopyIn(bytes.subarray(0, 8), (head) =>
    core._core_sheet_format(head, Math.min(8, bytes.length), n)));
  checked(format === 0 ? -1 : format);
  return format === 1 ? 'bmp' : 'png';
}

// Whether the first bytes are a BMP's or a PNG's, without a word about it.
export function isSheetFile(head) {
  const format = withCopyIn(head.subarray(0, 8), (pointer) => core._core_sheet_format(pointer, Math.min(8, head.length), 0));
  takePrinted();
  return format !== 0;
}

export function checkSheetSize(width, height, name) {
  checked(withString(name, (n) => core._core_check_sheet_size(width, height, n)));
}

// Packs an edited BMP sheet into the current tile file: the pixels changed
// and the line that says so.
export function packBitmap(bytes, cga, name) {
  const { result, lines } = checked(withString(name, (n) => withCopyIn(bytes, (pointer) =>
    core._core_pack_bitmap(pointer, bytes.length, flag(cga), n))), 'unreadable sheet');
  return { changed: result, message: lines };
}

// Packs straight RGBA pixels of a decoded PNG, as packBitmap.
export function packRgba(rgba, width, height, cga, name) {
  const { result, lines } = checked(withString(name, (n) => withCopyIn(rgba, (pointer) =>
    core._core_pack_rgba(pointer, width, height, flag(cga), n))), 'unreadable sheet');
  return { changed: result, message: lines };
}

// ---- patches and what changed

// Where the tile file differs from `original`: the number of tiles and of
// pixels, and a flag a tile.
export function compareTiles(original, cga) {
  const tiles = withCopyIn(original, (pointer) => core._core_compare_tiles(pointer, flag(cga)));
  return { tiles, pixels: core._core_changed_pixels(), changed: copyOut(core._core_changed_tiles(), TILE_COUNT) };
}

// 'bps' or 'ips' by a patch's first bytes, or null.
export function patchFormatOf(head) {
  const format = withCopyIn(head, (pointer) => core._core_patch_format_of(pointer, head.length));
  return Object.keys(PATCH_FORMATS).find((name) => PATCH_FORMATS[name] === format) ?? null;
}

// What the patches module made, with its line ('patch changes nothing'), or an error with its lines.
function made(result) {
  const { lines } = checked(result, 'the patch was refused');
  return { bytes: copyOut(core._core_made(), core._core_made_size()), changesNothing: result > 0, message: lines };
}

// The patch, 'bps' or 'ips', from `original` to the tile file as it is now.
export function createPatch(format, original, cga) {
  return made(withCopyIn(original, (pointer) => core._core_create_patch(PATCH_FORMATS[format], pointer, original.length, flag(cga))));
}

// The file that a patch makes of the tile file as it is now; the tile file stays as it is.
export function applyPatch(patch, cga) {
  return made(withCopyIn(patch, (pointer) => core._core_apply_patch(pointer, patch.length, flag(cga))));
}
