// The page: one state, the controls that change it, and a redraw after each
// change. The C++ core renders, writes and packs; the modules around it draw,
// read and save files.
import * as core from './core.js';
import { acceptDrops, download, outputName, readFile } from './files.js';
import { PALETTE_FORMATS, colourName, modeColours } from './palettes.js';
import { decodePng, encodeIndexedPng, isPng } from './png.js';
import { drawSheet, drawTileView, fitZoom, sheetPoint, tilePixels, tileViewPoint } from './sheet.js';
import { atlas, describeTile, tileTable } from './tileinfo.js';

const EGA_BYTES = 65536;
const CGA_BYTES = 32768;

const $ = (id) => document.getElementById(id);

const state = {
  fileName: 'SAMPLE.16',
  fileLength: 0,
  options: { cga: false, dungeon: false, mirrorRoom: false, remakeWater: true },
  view: { zoom: 'fit', grid: false, numbers: false },
  selected: null,
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

function zoom() {
  if (state.view.zoom !== 'fit') return Number(state.view.zoom);
  const area = $('sheet-area');
  return fitZoom(area.clientWidth, window.innerHeight - area.getBoundingClientRect().top - 16);
}

function redraw() {
  state.indices = core.render(state.options);
  state.palette = core.palette(state.options.cga);
  drawSheet($('sheet'), state.indices, state.palette, { ...state.view, zoom: zoom(), selected: state.selected });
  if (state.selected !== null) drawTileView($('tile-view'), state.indices, state.palette, state.selected);
}

function describePixel(tile, point) {
  const index = tilePixels(state.indices, tile)[point.y * core.TILE_SIZE + point.x];
  $('pixel').textContent = `x ${point.x}, y ${point.y}: colour ${index} ${colourName(index, state.options.cga)}`;
}

function select(tile, point = { x: 0, y: 0 }) {
  state.selected = tile;
  $('tile-view-title').textContent = `tile ${tile}`;
  setStatus(describeTile(state.table[tile]));
  redraw();
  describePixel(tile, point);
}

function tileFileMessage(name, length) {
  return `'${name}' is ${length} bytes; a tile file is ${EGA_BYTES} bytes (EGA, TILES.16) or ${CGA_BYTES} bytes (CGA, TILES.4)`;
}

function useTiles(name, bytes, cga) {
  core.setTiles(bytes);
  state.fileName = name;
  state.fileLength = bytes.length;
  state.options.cga = cga;
  $('cga').checked = cga;
  redraw();
}

async function loadTileFile(file) {
  const bytes = await readFile(file);
  if (bytes.length !== EGA_BYTES && bytes.length !== CGA_BYTES) throw new Error(tileFileMessage(file.name, bytes.length));
  useTiles(file.name, bytes, bytes.length === CGA_BYTES);
  clearAlert();
  setStatus(`loaded '${file.name}', ${bytes.length} bytes, ${state.options.cga ? 'CGA' : 'EGA'}`);
}

// A PNG is decoded here to its stored RGBA; the core packs it, as it packs a BMP.
async function packSheet(file) {
  const bytes = await readFile(file);
  const { cga } = state.options;
  let changed;
  try {
    if (isPng(bytes)) {
      const png = await decodePng(bytes, ({ width, height }) => {
        if (width !== core.SHEET_WIDTH || height !== core.SHEET_HEIGHT) throw new core.PackError('', width, height);
      });
      changed = core.packRgba(png.rgba, png.width, png.height, cga);
    } else if (bytes[0] === 0x42 && bytes[1] === 0x4d) {
      changed = core.packBitmap(bytes, cga);
    } else {
      throw new Error(`not a bmp or png file '${file.name}'`);
    }
  } catch (error) {
    if (error.width) throw new Error(`sheet is ${error.width} x ${error.height}, wanted ${core.SHEET_WIDTH} x ${core.SHEET_HEIGHT} '${file.name}'`);
    throw error.message.startsWith('not a bmp') ? error : new Error(`could not read the sheet '${file.name}': ${error.message}`);
  }
  const name = cga ? 'TILES.4' : 'TILES.16';
  useTiles(name, core.tiles(cga), cga);
  clearAlert();
  setStatus(changed > 0 ? `changed ${changed} pixels to the nearest palette color` : `packed '${file.name}' into ${name}`);
}

// A dropped file is a sheet when it is not a tile file's size and looks like one.
async function dropped(file) {
  const head = new Uint8Array(await file.slice(0, 8).arrayBuffer());
  const tileSized = file.size === EGA_BYTES || file.size === CGA_BYTES;
  const picture = isPng(head) || (head[0] === 0x42 && head[1] === 0x4d);
  await (!tileSized && picture ? packSheet(file) : loadTileFile(file));
}

function setOption(name, value) {
  if (name === 'cga' && !value && state.fileLength < EGA_BYTES) {
    $('cga').checked = true;
    throw new Error(`'${state.fileName}' has ${state.fileLength} bytes; EGA tiles need ${EGA_BYTES}`);
  }
  state.options[name] = value;
  redraw();
}

function baseName() {
  return outputName(state.fileName, state.options);
}

async function downloadPng() {
  const png = await encodeIndexedPng(state.indices, core.SHEET_WIDTH, core.SHEET_HEIGHT, state.palette);
  download(png, `${baseName()}.png`, 'image/png');
}

function downloadPalette() {
  const format = $('palette-format').value;
  const colours = modeColours(state.palette, state.options.cga);
  const name = state.options.cga ? 'CGA' : 'EGA';
  download(PALETTE_FORMATS[format].encode(colours, name), `${name.toLowerCase()}.${format}`, PALETTE_FORMATS[format].type);
}

function downloadAtlas() {
  const json = JSON.stringify(atlas(state.table, `${baseName()}.png`), null, 1);
  download(new TextEncoder().encode(json + '\n'), `${baseName()}.json`, 'application/json');
}

function moveSelection(key) {
  const steps = { ArrowLeft: -1, ArrowRight: 1, ArrowUp: -core.SHEET_COLUMNS, ArrowDown: core.SHEET_COLUMNS };
  if (!(key in steps)) return false;
  const from = state.selected ?? 0;
  select(Math.min(core.TILE_COUNT - 1, Math.max(0, from + (state.selected === null ? 0 : steps[key]))));
  return true;
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

function bindSheet() {
  const sheet = $('sheet');
  sheet.addEventListener('pointermove', (event) => {
    const point = sheetPoint(sheet, event);
    if (point) setStatus(describeTile(state.table[point.tile]));
  });
  sheet.addEventListener('click', (event) => {
    const point = sheetPoint(sheet, event);
    if (point) select(point.tile, point);
  });
  sheet.addEventListener('keydown', (event) => { if (moveSelection(event.key)) event.preventDefault(); });
  $('tile-view').addEventListener('pointermove', (event) => {
    const point = tileViewPoint($('tile-view'), event);
    if (point && state.selected !== null) describePixel(state.selected, point);
  });
}

function bindFiles() {
  const picked = (input, use) => input.addEventListener('change', guard(async () => {
    const file = input.files[0];
    input.value = '';
    if (file) await use(file);
  }));
  picked($('tile-file'), loadTileFile);
  picked($('edited-sheet'), packSheet);
  acceptDrops(document.body, guard(dropped));
  $('download-bmp').addEventListener('click', guard(() => download(core.bitmapFile(state.options.cga), `${baseName()}.bmp`, 'image/bmp')));
  $('download-png').addEventListener('click', guard(downloadPng));
  $('download-palette').addEventListener('click', guard(downloadPalette));
  $('download-atlas').addEventListener('click', guard(downloadAtlas));
  $('download-tiles').addEventListener('click', guard(() =>
    download(core.tiles(state.options.cga), state.options.cga ? 'TILES.4' : 'TILES.16')));
}

async function start() {
  window.addEventListener('unhandledrejection', (event) => { event.preventDefault(); showAlert(String(event.reason?.message || event.reason)); });
  clearAlert();
  await core.loadCore();
  state.table = tileTable();
  const sample = core.sampleTiles();
  bindOptions();
  bindSheet();
  bindFiles();
  useTiles(state.fileName, sample, false);
  setStatus(`showing the sample tiles; load a TILES.16 or TILES.4 to see yours`);
  performance.mark('sheet-drawn');
}

guard(start)();
