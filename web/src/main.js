// The page: one state, the controls that change it, and a redraw after each
// change. The C++ core renders, writes, packs and edits; the modules around
// it draw, read and save files, keep the history and the scene.
import * as core from './core.js';
import { act, bindEditor, drawTo, endStroke, pressSheet, showColors, useTool } from './editor.js';
import { acceptDrops, download, outputName, readFile } from './files.js';
import { PALETTE_FORMATS, modeColors } from './palettes.js';
import { decodeRgba, encodeIndexedPng, pngHeader } from './png.js';
import { bindScene, drawScene, newScene, sceneCells, scenePicture, sceneSize, setSceneCells } from './scene.js';
import {
  SEAMLESS_COPIES, drawSeamless, drawSheet, drawTileView, drawTiles, fitZoom, sheetPoint, tilePixels, viewPoint,
} from './sheet.js';
import * as history from './history.js';
import { loadSession, saveSession } from './store.js';
import { readScene, sceneZip } from './tiled.js';
import { atlas, describeTile, tileTable } from './tileinfo.js';
import { WORK_EXTENSION, decodeWork, encodeWork, storedWork, workNow, workOf } from './work.js';

// The game's names of the two tile files.
const tileFileName = (cga) => (cga ? 'TILES.4' : 'TILES.16');

const $ = (id) => document.getElementById(id);

const state = {
  fileName: 'SAMPLE.16',
  original: null,  // the tile file as loaded
  options: { cga: false, dungeon: false, mirrorRoom: false, remakeWater: true },
  view: { zoom: 'fit', grid: false, numbers: false, seamless: false, changedTiles: false },
  tool: 'select',
  color: 15,
  selected: null,
  swapping: false,
  copied: false,
  stroke: null,  // a pencil stroke in progress
  modified: false,  // changes not yet downloaded or saved
  history: null,
  scene: null,
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

// ---- drawing

function zoom() {
  if (state.view.zoom !== 'fit') return Number(state.view.zoom);
  const area = $('sheet-area');
  return fitZoom(area.clientWidth, window.innerHeight - area.getBoundingClientRect().top - 16);
}

// The tiles whose stored bytes differ from the file as loaded, when the view marks them.
const changedTiles = () => (state.view.changedTiles ? core.compareTiles(state.original, state.options.cga).changed : null);

const sheetView = () => ({ ...state.view, zoom: zoom(), selected: state.selected, changed: changedTiles() });

// "2 tiles and 9 pixels differ from TILES.16".
function changedLine() {
  const { tiles, pixels } = core.compareTiles(state.original, state.options.cga);
  const count = (n, word) => `${n} ${word}${n === 1 ? '' : 's'}`;
  return `${count(tiles, 'tile')} and ${count(pixels, 'pixel')} differ from ${state.fileName}`;
}

function drawTileViews(tile) {
  $('tile-view').hidden = false;
  drawTileView($('tile-view'), state.indices, state.palette, tile);
  const remade = state.options.remakeWater && state.table[tile].maskTile !== 0;
  $('tile-view-title').textContent = `tile ${tile}, ${remade ? 'remade' : 'stored'}`;
  $('seamless-view').hidden = !state.view.seamless;
  if (state.view.seamless) drawSeamless($('seamless-view'), state.palette, tile);
}

function redraw() {
  state.indices = core.render(state.options);
  state.palette = core.palette(state.options.cga);
  drawSheet($('sheet'), state.indices, state.palette, sheetView());
  if (state.selected !== null) drawTileViews(state.selected);
  drawScene();
}

// After an edit of `tiles`: those and the water tiles made from them, and
// every view that shows them.
function redrawTiles(tiles) {
  const all = core.tilesDrawnFrom(tiles);
  core.renderTiles(state.indices, all, state.options);
  drawTiles($('sheet'), state.indices, state.palette, sheetView(), all);
  if (state.selected !== null && all.includes(state.selected)) drawTileViews(state.selected);
  if (all.length > 0) drawScene();
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
  drawTileViews(tile);
}

// ---- the work: the tile file, its history and the scene, kept as they change

function markModified(modified) {
  state.modified = modified;
  document.title = `${modified ? '* ' : ''}qelega_shapes: tile sheets in the browser`;
  $('modified').hidden = !modified;
  $('discard').hidden = state.history.steps.length === 0;
}

let keeping = Promise.resolve();

// Keeps the work in the browser; the steps kept show on the editor for the test's sake.
function keep() {
  const work = workOf(state);
  const kept = `${work.history.position} of ${work.history.steps.length}`;
  keeping = keeping.then(() => saveSession(work))
    .then(() => { $('editor').dataset.keptSteps = kept; })
    .catch((error) => showAlert(`your work is not kept in this browser: ${error.message}`));
}

// A new tile file: its history starts from it and the scene as it is. The
// caller keeps it, but for the sample shown at the start.
function useTiles(name, bytes, cga) {
  core.setTiles(bytes);
  state.fileName = name;
  state.original = bytes.slice();
  state.options.cga = cga;
  state.scene = state.scene ?? newScene();
  state.history = history.newHistory(core.tileBuffer(), state.scene);
  showOptions();
  markModified(false);
  redraw();
}

function edited() {
  markModified(true);
  keep();
  if (state.view.changedTiles) setStatus(changedLine());
}

// A work, checked whole, in place of the page's.
function useWork(work) {
  const now = workNow(work);
  core.setTiles(now.tiles);
  Object.assign(state, { fileName: work.fileName, original: work.original, options: { ...work.options }, history: work.history });
  state.scene = now.scene;
  showOptions();
  markModified(work.modified);
  keep();
  redraw();
}

function restoredLine(work) {
  const { position, steps } = work.history;
  return steps.length > 0
    ? `restored your edits of '${work.fileName}' (${position} of ${steps.length} steps); Discard edits drops them`
    : `restored '${work.fileName}' as you left it`;
}

async function restoreWork(kept) {
  let work;
  try {
    work = storedWork(await kept);
  } catch (error) {
    showAlert(`the work kept in this browser could not be restored (${error.message}); it is kept until you change something`);
    return false;
  }
  if (work === null) return false;
  useWork(work);
  setStatus(restoredLine(work));
  return true;
}

function mayDrop(what) {
  return !state.modified || window.confirm(`Drop ${what} of '${state.fileName}' that were not downloaded or saved?`);
}

function discardEdits() {
  if (!window.confirm(`Drop the edits of '${state.fileName}' and the scene, back to the file as loaded?`)) return;
  state.scene = newScene();
  useTiles(state.fileName, state.original, state.options.cga);
  keep();
  setStatus(`dropped the edits and the scene; back to '${state.fileName}' as loaded`);
}

// The history as one step more: the scene replaced.
function replaceScene({ width, height, cells }) {
  history.begin(state.scene);
  setSceneCells(state.scene, width, height, cells);
  if (history.commit(state.history, state.scene)) edited();
  drawScene();
}

// ---- loading, packing and opening

// 'EGA' or 'CGA' by the file's length, or null for any other length.
function modeOfLength(length) {
  return length === core.tileFileBytes(false) ? 'EGA' : length === core.tileFileBytes(true) ? 'CGA' : null;
}

function tileFileMessage(name, length) {
  const sizes = [false, true].map((cga) => `${core.tileFileBytes(cga)} bytes (${cga ? 'CGA' : 'EGA'}, ${tileFileName(cga)})`);
  return `'${name}' is ${length} bytes; a tile file is ${sizes.join(' or ')}`;
}

async function loadTileFile(file) {
  const bytes = await readFile(file);
  const mode = modeOfLength(bytes.length);
  if (mode === null) throw new Error(tileFileMessage(file.name, bytes.length));
  if (!mayDrop('the edits')) return;
  useTiles(file.name, bytes, mode === 'CGA');
  keep();
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
  if (!mayDrop('the edits')) return;
  let packed;
  try {
    packed = packPicture(bytes, format, cga, file.name);
  } catch (error) {
    if (error.result === core.WRONG_SHEET_SIZE) throw error;
    throw new Error(`could not read the sheet '${file.name}': ${error.message}`);
  }
  const name = tileFileName(cga);
  useTiles(name, core.tiles(cga), cga);
  keep();
  clearAlert();
  setStatus(packed.changed > 0 ? packed.message : `packed '${file.name}' into ${name}`);
}

// A patch applied to the tile file as it stands: one step of the history.
async function applyPatchFile(file) {
  const { cga } = state.options;
  const { bytes, changesNothing, message } = core.applyPatch(await readFile(file), cga);
  clearAlert();
  if (changesNothing) {
    setStatus(message);
    return;
  }
  const length = core.tileFileBytes(cga);
  if (bytes.length !== length) throw new Error(`'${file.name}' makes a file of ${bytes.length} bytes, not a tile file of ${length}`);
  act(Array.from({ length: core.TILE_COUNT }, (_, tile) => tile), () => core.setTiles(bytes));
  setStatus(`applied '${file.name}' to '${state.fileName}'; Undo takes it back`);
}

function downloadPatch() {
  const format = $('patch-format').value;
  const { bytes, message } = core.createPatch(format, state.original, state.options.cga);
  const name = `${state.fileName.replace(/\.[^.]*$/, '') || 'tiles'}.${format}`;
  download(bytes, name);
  setStatus(message || `saved ${name}, ${bytes.length} bytes, from '${state.fileName}' as loaded to the tiles as they are`);
}

async function openScene(file) {
  const scene = readScene(await readFile(file), file.name);
  replaceScene(scene);
  clearAlert();
  setStatus(scene.message);
}

async function openWork(file) {
  const work = decodeWork(await readFile(file), file.name);
  if (!mayDrop('the changes')) return;
  useWork(work);
  clearAlert();
  setStatus(`opened the work '${file.name}' of '${work.fileName}' (${work.history.position} of ${work.history.steps.length} steps)`);
}

// A dropped file goes where its name or its first bytes say it belongs.
async function dropped(file) {
  const head = new Uint8Array(await file.slice(0, 8).arrayBuffer());
  const name = file.name.toLowerCase();
  if (name.endsWith(WORK_EXTENSION)) return openWork(file);
  if (name.endsWith('.tmj') || name.endsWith('.zip')) return openScene(file);
  if (name.endsWith('.bps') || name.endsWith('.ips') || core.patchFormatOf(head) !== null) return applyPatchFile(file);
  if (modeOfLength(file.size) === null && core.isSheetFile(head)) return packSheet(file);
  return loadTileFile(file);
}

// ---- options and downloads

function showOptions() {
  for (const [name, id] of Object.entries({ cga: 'cga', dungeon: 'dungeon', mirrorRoom: 'mirror-room', remakeWater: 'remake-water' }))
    $(id).checked = state.options[name];
  $('recolor-note').hidden = !(state.options.dungeon || state.options.mirrorRoom);
  showColors();
}

function setOption(name, value) {
  const egaBytes = core.tileFileBytes(false);
  if (name === 'cga' && !value && state.original.length < egaBytes) {
    $('cga').checked = true;
    throw new Error(`'${state.fileName}' has ${state.original.length} bytes; EGA tiles need ${egaBytes}`);
  }
  state.options[name] = value;
  showOptions();
  keep();
  redraw();
}

const baseName = () => outputName(state.fileName, state.options);

const sheetPng = () => encodeIndexedPng(state.indices, core.SHEET_WIDTH, core.SHEET_HEIGHT, state.palette);

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
  keep();
}

function downloadScenePng() {
  const { width, height } = sceneSize(state.scene);
  const size = core.TILE_SIZE;
  download(encodeIndexedPng(scenePicture(state.scene), width * size, height * size, state.palette), `${baseName()}-scene.png`, 'image/png');
}

function downloadSceneForTiled() {
  const { width, height } = sceneSize(state.scene);
  download(sceneZip(sceneCells(state.scene), width, height, sheetPng()), `${baseName()}-scene.zip`, 'application/zip');
}

function saveWork() {
  download(encodeWork(workOf(state)), `${state.fileName.replace(/\.[^.]*$/, '') || 'tiles'}${WORK_EXTENSION}`, 'application/json');
  markModified(false);
  keep();
}

// ---- the sheet and the views of the selected tile

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
}

// The large view and the seamless view edit the selected tile: the seamless
// view's nine copies each stand for the whole tile.
function bindTileView(canvas, copies) {
  const surface = (sx, sy) => ({ tile: state.selected, x: sx % core.TILE_SIZE, y: sy % core.TILE_SIZE });
  const pointAt = (event) => (state.selected === null ? null : viewPoint(canvas, event, copies));
  canvas.addEventListener('pointerdown', guard((event) => {
    const point = pointAt(event);
    if (!point) return;
    canvas.setPointerCapture(event.pointerId);
    useTool(surface, point.x, point.y);
    describePixel(state.selected, surface(point.x, point.y));
  }));
  canvas.addEventListener('pointermove', guard((event) => {
    const point = pointAt(event);
    if (!point) return;
    describePixel(state.selected, surface(point.x, point.y));
    drawTo(point.x, point.y);
  }));
  for (const type of ['pointerup', 'pointercancel']) canvas.addEventListener(type, endStroke);
}

function bindOptions() {
  const options = { cga: 'cga', dungeon: 'dungeon', mirrorRoom: 'mirror-room', remakeWater: 'remake-water' };
  for (const [name, id] of Object.entries(options))
    $(id).addEventListener('change', guard(() => setOption(name, $(id).checked)));
  for (const name of ['grid', 'numbers', 'seamless'])
    $(name).addEventListener('change', () => { state.view[name] = $(name).checked; redraw(); });
  $('changed-tiles').addEventListener('change', guard(() => {
    state.view.changedTiles = $('changed-tiles').checked;
    redraw();
    if (state.view.changedTiles) setStatus(changedLine());
  }));
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
  picked($('open-scene'), openScene);
  picked($('open-work'), openWork);
  picked($('apply-patch'), applyPatchFile);
  acceptDrops(window, guard(dropped));
  const buttons = {
    'download-bmp': () => download(core.bitmapFile(state.options.cga), `${baseName()}.bmp`, 'image/bmp'),
    'download-png': () => download(sheetPng(), `${baseName()}.png`, 'image/png'),
    'download-palette': downloadPalette,
    'download-atlas': downloadAtlas,
    'download-tiles': downloadTiles,
    'download-scene-png': downloadScenePng,
    'download-scene-tiled': downloadSceneForTiled,
    'save-work': saveWork,
    'download-patch': downloadPatch,
  };
  for (const [id, handler] of Object.entries(buttons)) $(id).addEventListener('click', guard(handler));
}

// The browser may clear what a page keeps when it runs short of space,
// unless it agrees to keep it; the page says when it does not.
async function askToKeepStorage() {
  const kept = await navigator.storage?.persist?.().catch(() => false);
  $('storage-note').hidden = kept === true;
}

async function start() {
  window.addEventListener('unhandledrejection', (event) => { event.preventDefault(); showAlert(String(event.reason?.message || event.reason)); });
  clearAlert();
  const kept = loadSession();  // the browser's storage answers while the core loads
  kept.catch(() => {});
  await core.loadCore();
  state.table = tileTable();
  bindOptions();
  bindSheet();
  bindTileView($('tile-view'), 1);
  bindTileView($('seamless-view'), SEAMLESS_COPIES);
  bindEditor({ state, redraw, redrawTiles, edited, select, setStatus, discardEdits, guard });
  bindScene({ state, zoom, select, edited, guard });
  bindFiles();
  if (!(await restoreWork(kept))) {
    useTiles(state.fileName, core.sampleTiles(), false);
    setStatus('showing the sample tiles; load a TILES.16 or TILES.4 to see yours');
  }
  performance.mark('sheet-drawn');
  askToKeepStorage();
}

guard(start)();
