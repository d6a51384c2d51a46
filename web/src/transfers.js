// Files in and out of the page: tile files loaded, edited sheets packed,
// patches applied and made, scenes and work opened, and every download. Each
// goes through the core or through the module of its format; the page hands
// this module its state and what it does with a new tile file or work.
import * as core from './core.js';
import { act } from './editor.js';
import { acceptDrops, download, outputName, readFile, stemOf } from './files.js';
import { PALETTE_FORMATS, modeColors } from './palettes.js';
import { decodeRgba, encodeIndexedPng, pngHeader } from './png.js';
import { sceneCells, scenePicture, sceneSize } from './scene.js';
import { readScene, sceneZip } from './tiled.js';
import { atlas } from './tileinfo.js';
import { WORK_EXTENSION, decodeWork, encodeWork, workOf } from './work.js';

const $ = (id) => document.getElementById(id);

// The page's hooks: { state, useTiles, useWork, replaceScene, keep, markModified, mayDrop, setStatus, clearAlert, guard }.
let page = null;
let state = null;

// The game's names of the two tile files.
const tileFileName = (cga) => (cga ? 'TILES.4' : 'TILES.16');

// ---- in

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
  if (!page.mayDrop('the edits')) return;
  page.useTiles(file.name, bytes, mode === 'CGA');
  page.keep();
  page.clearAlert();
  page.setStatus(`loaded '${file.name}', ${bytes.length} bytes, ${mode}`);
}

// A PNG's size is checked before its pixels are decoded to their stored
// RGBA; the core packs them, as it packs a BMP.
async function packPicture(bytes, format, cga, name) {
  if (format === 'bmp') return core.packBitmap(bytes, cga, name);
  const { width, height } = pngHeader(bytes);
  core.checkSheetSize(width, height, name);
  return core.packRgba(await decodeRgba(bytes), width, height, cga, name);
}

async function packSheet(file) {
  const bytes = await readFile(file);
  const { cga } = state.options;
  const format = core.sheetFormat(bytes, file.name);
  if (!page.mayDrop('the edits')) return;
  let packed;
  try {
    packed = await packPicture(bytes, format, cga, file.name);
  } catch (error) {
    if (error.result === core.WRONG_SHEET_SIZE) throw error;
    throw new Error(`could not read the sheet '${file.name}': ${error.message}`);
  }
  const name = tileFileName(cga);
  page.useTiles(name, core.tiles(cga), cga);
  page.keep();
  page.clearAlert();
  page.setStatus(packed.changed > 0 ? packed.message : `packed '${file.name}' into ${name}`);
}

// A patch applied to the tile file as it stands: one step of the history.
async function applyPatchFile(file) {
  const { cga } = state.options;
  const { bytes, changesNothing, message } = core.applyPatch(await readFile(file), cga);
  page.clearAlert();
  if (changesNothing) {
    page.setStatus(message);
    return;
  }
  const length = core.tileFileBytes(cga);
  if (bytes.length !== length) throw new Error(`'${file.name}' makes a file of ${bytes.length} bytes, not a tile file of ${length}`);
  act(Array.from({ length: core.TILE_COUNT }, (_, tile) => tile), () => core.setTiles(bytes));
  page.setStatus(`applied '${file.name}' to '${state.fileName}'; Undo takes it back`);
}

function downloadPatch() {
  const format = $('patch-format').value;
  const { bytes, message } = core.createPatch(format, state.original, state.options.cga);
  const name = `${stemOf(state.fileName)}.${format}`;
  download(bytes, name);
  page.setStatus(message || `saved ${name}, ${bytes.length} bytes, from '${state.fileName}' as loaded to the tiles as they are`);
}

async function openScene(file) {
  const scene = await readScene(await readFile(file), file.name);
  page.replaceScene(scene);
  page.clearAlert();
  page.setStatus(scene.message);
}

async function openWork(file) {
  const work = decodeWork(await readFile(file), file.name);
  if (!page.mayDrop('the changes')) return;
  page.useWork(work);
  page.clearAlert();
  page.setStatus(`opened the work '${file.name}' of '${work.fileName}' (${work.history.position} of ${work.history.steps.length} steps)`);
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

// ---- out

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
  page.markModified(false);
  page.keep();
}

async function downloadScenePng() {
  const { width, height } = sceneSize(state.scene);
  const size = core.TILE_SIZE;
  download(await encodeIndexedPng(scenePicture(state.scene), width * size, height * size, state.palette), `${baseName()}-scene.png`, 'image/png');
}

async function downloadSceneForTiled() {
  const { width, height } = sceneSize(state.scene);
  download(await sceneZip(sceneCells(state.scene), width, height, await sheetPng()), `${baseName()}-scene.zip`, 'application/zip');
}

function saveWork() {
  download(encodeWork(workOf(state)), `${stemOf(state.fileName)}${WORK_EXTENSION}`, 'application/json');
  page.markModified(false);
  page.keep();
}

export function bindTransfers(hooks) {
  page = hooks;
  state = hooks.state;
  const { guard } = page;
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
    'download-png': async () => download(await sheetPng(), `${baseName()}.png`, 'image/png'),
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
