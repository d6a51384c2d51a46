// The page: one state, the controls that change it, and a redraw after each
// change. The C++ core renders, writes, packs and edits; the modules around
// it draw, move files in and out, and keep the history, the scene and the work.
import * as core from './core.js';
import { act, bindEditor, drawTo, endStroke, pressSheet, showColors, useTool } from './editor.js';
import { bindScene, drawScene, newScene, setSceneCells } from './scene.js';
import { SEAMLESS_COPIES, drawSeamless, drawSheet, drawTileView, drawTiles, fitZoom, sheetPoint, tilePixels, viewPoint } from './sheet.js';
import { newHistory } from './history.js';
import { loadSession, saveSession } from './store.js';
import { bindTransfers } from './transfers.js';
import { describeTile, tileTable } from './tileinfo.js';
import { storedWork, workNow, workOf } from './work.js';

const $ = (id) => document.getElementById(id);

// The options' checkboxes by the options' names.
const OPTION_BOXES = { cga: 'cga', dungeon: 'dungeon', mirrorRoom: 'mirror-room', remakeWater: 'remake-water' };

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
  state.history = newHistory(core.tileBuffer(), state.scene);
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

// The scene replaced, one step of the history.
function replaceScene({ width, height, cells }) {
  act([], () => setSceneCells(state.scene, width, height, cells));
  drawScene();
}

// ---- options and downloads

function showOptions() {
  for (const [name, id] of Object.entries(OPTION_BOXES)) $(id).checked = state.options[name];
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
  for (const [name, id] of Object.entries(OPTION_BOXES))
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

// The browser may clear what a page keeps when it runs short of space,
// unless it agrees to keep it; the page says when it does not.
async function askToKeepStorage() {
  const kept = await navigator.storage?.persist?.().catch(() => false);
  $('storage-note').hidden = kept === true;
}

// The page's script runs in its head, so the core compiles and the browser's
// storage answers while the markup is still being read and laid out.
const parsed = new Promise((resolve) => {
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', resolve, { once: true });
  else resolve();
});

async function start() {
  const loading = core.loadCore();
  const kept = loadSession();
  for (const promise of [loading, kept]) promise.catch(() => {});
  await parsed;
  window.addEventListener('unhandledrejection', (event) => { event.preventDefault(); showAlert(String(event.reason?.message || event.reason)); });
  clearAlert();
  await loading;
  state.table = tileTable();
  bindOptions();
  bindSheet();
  bindTileView($('tile-view'), 1);
  bindTileView($('seamless-view'), SEAMLESS_COPIES);
  bindEditor({ state, redraw, redrawTiles, edited, select, setStatus, discardEdits, guard });
  bindScene({ state, zoom, select, edited, guard });
  bindTransfers({ state, useTiles, useWork, replaceScene, keep, markModified, mayDrop, setStatus, clearAlert, guard });
  if (!(await restoreWork(kept))) {
    useTiles(state.fileName, core.sampleTiles(), false);
    setStatus('showing the sample tiles; load a TILES.16 or TILES.4 to see yours');
  }
  performance.mark('sheet-drawn');
  askToKeepStorage();
}

guard(start)();
