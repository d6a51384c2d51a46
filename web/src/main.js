// The page: one state, the controls that change it, and a redraw after each
// change. The C++ core renders, writes, packs and edits; the modules around
// it draw, read and save files, and keep the history.
import * as core from './core.js';
import { bindEditor, drawTo, endStroke, pressSheet, showColors, useTool } from './editor.js';
import { acceptDrops, download, outputName, readFile } from './files.js';
import { PALETTE_FORMATS, modeColors } from './palettes.js';
import { decodeRgba, encodeIndexedPng, pngHeader } from './png.js';
import { drawSheet, drawTileView, drawTiles, fitZoom, sheetPoint, tilePixels, tileViewPoint } from './sheet.js';
import { newHistory } from './history.js';
import { clearSession, loadSession, saveSession } from './store.js';
import { atlas, describeTile, tileTable } from './tileinfo.js';

// The game's names of the two tile files.
const tileFileName = (cga) => (cga ? 'TILES.4' : 'TILES.16');

const $ = (id) => document.getElementById(id);

const state = {
  fileName: 'SAMPLE.16',
  fileLength: 0,
  options: { cga: false, dungeon: false, mirrorRoom: false, remakeWater: true },
  view: { zoom: 'fit', grid: false, numbers: false },
  tool: 'select',
  color: 15,
  selected: null,
  swapping: false,
  copied: false,
  stroke: null,  // the last sheet pixel of a pencil stroke in progress
  modified: false,  // edits not yet downloaded
  history: null,
  indices: null,
  palette: null,
  table: null,
};

function showAlert(message) {
  $('alert').textContent = message;
  $('alert').hidden = false;
}

function clearAlert() {
  $('alert').textContent = '';
  $('alert').hidden = true;
}

function setStatus(text) {
  $('status').textContent = text;
}

// Every handler runs through this, so a failure becomes an alert in the page.
function guard(handler) {
  return async (...args) => {
    try {
      await handler(...args);
    } catch (error) {
      showAlert(error.message || String(error));
    }
  };
}

function sheetView() {
  let zoom = Number(state.view.zoom);
  if (state.view.zoom === 'fit') {
    const area = $('sheet-area');
    zoom = fitZoom(area.clientWidth, window.innerHeight - area.getBoundingClientRect().top - 16);
  }
  return { ...state.view, zoom, selected: state.selected };
}

function drawTileViewOf(tile) {
  $('tile-view').hidden = false;
  drawTileView($('tile-view'), state.indices, state.palette, tile);
  const remade = state.options.remakeWater && state.table[tile].maskTile !== 0;
  $('tile-view-title').textContent = `tile ${tile}, ${remade ? 'remade' : 'stored'}`;
}

function redraw() {
  state.indices = core.render(state.options);
  state.palette = core.palette(state.options.cga);
  drawSheet($('sheet'), state.indices, state.palette, sheetView());
  if (state.selected !== null) drawTileViewOf(state.selected);
}

// After an edit of `tiles`: those and the water tiles made from them.
function redrawTiles(tiles) {
  const all = core.tilesDrawnFrom(tiles);
  core.renderTiles(state.indices, all, state.options);
  drawTiles($('sheet'), state.indices, state.palette, sheetView(), all);
  if (state.selected !== null && all.includes(state.selected)) drawTileViewOf(state.selected);
}

function describePixel(tile, point) {
  const index = tilePixels(state.indices, tile)[point.y * core.TILE_SIZE + point.x];
  $('pixel').textContent = `x ${point.x}, y ${point.y}: colour ${index} ${core.colorName(index, state.options.cga)}`;
}

function select(tile) {
  const previous = state.selected;
  state.selected = tile;
  setStatus(describeTile(state.table[tile]));
  redrawTiles(previous === null ? [tile] : [previous, tile]);
  drawTileViewOf(tile);
}

// ---- the tile file and its history

function markModified(modified) {
  state.modified = modified;
  document.title = `${modified ? '* ' : ''}qelega_shapes: tile sheets in the browser`;
  $('modified').hidden = !modified;
}

let saving = Promise.resolve();

function saveEdits() {
  const { fileName, fileLength, options: { cga }, history, modified } = state;
  const session = { fileName, fileLength, cga, modified, base: history.base, steps: history.steps, position: history.position,
    current: core.tileBuffer() };
  saving = saving.then(() => saveSession(session))
    .then(() => { $('editor').dataset.keptSteps = `${session.position} of ${session.steps.length}`; })
    .catch((error) => showAlert(`edits not kept: ${error.message}`));
}

function useTiles(name, bytes, cga) {
  core.setTiles(bytes);
  state.fileName = name;
  state.fileLength = bytes.length;
  state.options.cga = cga;
  state.history = newHistory(core.tileBuffer());
  $('cga').checked = cga;
  showColors();
  markModified(false);
  $('discard').hidden = true;
  saving = saving.then(clearSession).catch(() => {});
  redraw();
}

function edited() {
  markModified(true);
  $('discard').hidden = false;
  saveEdits();
}

// ---- loading and packing

// 'EGA' or 'CGA' by the file's length, or null for any other length.
function modeOfLength(length) {
  return length === core.tileFileBytes(false) ? 'EGA' : length === core.tileFileBytes(true) ? 'CGA' : null;
}

function tileFileMessage(name, length) {
  const sizes = [false, true].map((cga) => `${core.tileFileBytes(cga)} bytes (${cga ? 'CGA' : 'EGA'}, ${tileFileName(cga)})`);
  return `'${name}' is ${length} bytes; a tile file is ${sizes.join(' or ')}`;
}

function mayDropEdits() {
  return !state.modified || window.confirm(`Drop the edits of '${state.fileName}' that were not downloaded?`);
}

async function loadTileFile(file) {
  const bytes = await readFile(file);
  const mode = modeOfLength(bytes.length);
  if (mode === null) throw new Error(tileFileMessage(file.name, bytes.length));
  if (!mayDropEdits()) return;
  useTiles(file.name, bytes, mode === 'CGA');
  clearAlert();
  setStatus(`loaded '${file.name}', ${bytes.length} bytes, ${mode}`);
}

// A PNG's size is checked before its pixels are decoded to their stored
// RGBA; the core packs them, as it packs a BMP.
function packPicture(bytes, format, cga, name) {
  if (format === 'bmp') return core.packBitmap(bytes, cga, name);
  const { width, height } = pngHeader(bytes);
  core.checkSheetSize(width, height, name);
  return core.packRgba(decodeRgba(bytes), width, height, cga, name);
}

async function packSheet(file) {
  const bytes = await readFile(file);
  const { cga } = state.options;
  const format = core.sheetFormat(bytes, file.name);
  if (!mayDropEdits()) return;
  let packed;
  try {
    packed = packPicture(bytes, format, cga, file.name);
  } catch (error) {
    if (error.result === core.WRONG_SHEET_SIZE) throw error;
    throw new Error(`could not read the sheet '${file.name}': ${error.message}`);
  }
  const name = tileFileName(cga);
  useTiles(name, core.tiles(cga), cga);
  clearAlert();
  setStatus(packed.changed > 0 ? packed.message : `packed '${file.name}' into ${name}`);
}

// A dropped file is a sheet when it is not a tile file's size and looks like one.
async function dropped(file) {
  const head = new Uint8Array(await file.slice(0, 8).arrayBuffer());
  await (modeOfLength(file.size) === null && core.isSheetFile(head) ? packSheet(file) : loadTileFile(file));
}

async function restoreEdits() {
  const session = await loadSession();
  if (!session) return false;
  useTiles(session.fileName, session.base, session.cga);
  state.fileLength = session.fileLength;
  core.setTiles(session.current);
  Object.assign(state.history, { steps: session.steps, position: session.position });
  markModified(session.modified);
  $('discard').hidden = false;
  redraw();
  saveEdits();
  setStatus(`restored your edits of '${session.fileName}' (${session.position} of ${session.steps.length} steps); Discard edits drops them`);
  return true;
}

function discardEdits() {
  useTiles(state.fileName, state.history.base, state.options.cga);
  setStatus(`dropped the edits; back to '${state.fileName}' as loaded`);
}

// ---- options and downloads

function setOption(name, value) {
  const egaBytes = core.tileFileBytes(false);
  if (name === 'cga' && !value && state.fileLength < egaBytes) {
    $('cga').checked = true;
    throw new Error(`'${state.fileName}' has ${state.fileLength} bytes; EGA tiles need ${egaBytes}`);
  }
  state.options[name] = value;
  if (name === 'cga') showColors();
  $('recolor-note').hidden = !(state.options.dungeon || state.options.mirrorRoom);
  redraw();
}

function baseName() {
  return outputName(state.fileName, state.options);
}

function downloadPng() {
  download(encodeIndexedPng(state.indices, core.SHEET_WIDTH, core.SHEET_HEIGHT, state.palette), `${baseName()}.png`, 'image/png');
}

function downloadPalette() {
  const format = $('palette-format').value;
  const colors = modeColors(state.palette, state.options.cga);
  const name = state.options.cga ? 'CGA' : 'EGA';
  download(PALETTE_FORMATS[format].encode(colors, name), `${name.toLowerCase()}.${format}`, PALETTE_FORMATS[format].type);
}

function downloadAtlas() {
  const json = JSON.stringify(atlas(state.table, `${baseName()}.png`), null, 1);
  download(new TextEncoder().encode(json + '\n'), `${baseName()}.json`, 'application/json');
}

function downloadTiles() {
  download(core.tiles(state.options.cga), tileFileName(state.options.cga));
  markModified(false);
  saveEdits();
}

// ---- the sheet and the large view

function moveSelection(key) {
  const steps = { ArrowLeft: -1, ArrowRight: 1, ArrowUp: -core.SHEET_COLUMNS, ArrowDown: core.SHEET_COLUMNS };
  if (!(key in steps)) return false;
  const from = state.selected ?? 0;
  select(Math.min(core.TILE_COUNT - 1, Math.max(0, from + (state.selected === null ? 0 : steps[key]))));
  return true;
}

function bindSheet() {
  const sheet = $('sheet');
  sheet.addEventListener('pointerdown', guard((event) => {
    const point = sheetPoint(sheet, event);
    if (!point) return;
    sheet.setPointerCapture(event.pointerId);
    pressSheet(point);
    describePixel(point.tile, point);
  }));
  sheet.addEventListener('pointermove', guard((event) => {
    const point = sheetPoint(sheet, event);
    if (!point) return;
    setStatus(describeTile(state.table[point.tile]));
    drawTo(point.px, point.py);
  }));
  for (const type of ['pointerup', 'pointercancel']) sheet.addEventListener(type, endStroke);
  sheet.addEventListener('keydown', guard((event) => { if (moveSelection(event.key)) event.preventDefault(); }));

  const view = $('tile-view');
  const viewPixel = (event) => {
    const point = tileViewPoint(view, event);
    if (!point || state.selected === null) return null;
    const tile = state.selected;
    const place = core.tilePlace(tile);
    return { tile, ...point, px: place.x + point.x, py: place.y + point.y };
  };
  view.addEventListener('pointerdown', guard((event) => {
    const p = viewPixel(event);
    if (!p) return;
    view.setPointerCapture(event.pointerId);
    useTool(p.tile, p.x, p.y, p.px, p.py);
    describePixel(p.tile, p);
  }));
  view.addEventListener('pointermove', guard((event) => {
    const p = viewPixel(event);
    if (!p) return;
    describePixel(p.tile, p);
    drawTo(p.px, p.py);
  }));
  for (const type of ['pointerup', 'pointercancel']) view.addEventListener(type, endStroke);
}

function bindOptions() {
  const options = { cga: 'cga', dungeon: 'dungeon', mirrorRoom: 'mirror-room', remakeWater: 'remake-water' };
  for (const [name, id] of Object.entries(options))
    $(id).addEventListener('change', guard(() => setOption(name, $(id).checked)));
  for (const name of ['grid', 'numbers'])
    $(name).addEventListener('change', () => { state.view[name] = $(name).checked; redraw(); });
  $('zoom').addEventListener('change', () => { state.view.zoom = $('zoom').value; redraw(); });
  window.addEventListener('resize', () => { if (state.view.zoom === 'fit') redraw(); });
}

function bindFiles() {
  const picked = (input, use) => input.addEventListener('change', guard(async () => {
    const file = input.files[0];
    input.value = '';
    if (file) await use(file);
  }));
  picked($('tile-file'), loadTileFile);
  picked($('edited-sheet'), packSheet);
  acceptDrops(window, guard(dropped));
  $('download-bmp').addEventListener('click', guard(() => download(core.bitmapFile(state.options.cga), `${baseName()}.bmp`, 'image/bmp')));
  $('download-png').addEventListener('click', guard(downloadPng));
  $('download-palette').addEventListener('click', guard(downloadPalette));
  $('download-atlas').addEventListener('click', guard(downloadAtlas));
  $('download-tiles').addEventListener('click', guard(downloadTiles));
}

async function start() {
  window.addEventListener('unhandledrejection', (event) => { event.preventDefault(); showAlert(String(event.reason?.message || event.reason)); });
  clearAlert();
  await core.loadCore();
  state.table = tileTable();
  bindOptions();
  bindSheet();
  bindEditor({ state, redraw, redrawTiles, edited, select, setStatus, discardEdits, guard });
  bindFiles();
  const sample = core.sampleTiles();
  if (!(await restoreEdits().catch(() => false))) {
    useTiles(state.fileName, sample, false);
    setStatus('showing the sample tiles; load a TILES.16 or TILES.4 to see yours');
  }
  performance.mark('sheet-drawn');
}

guard(start)();
