// Scenes for Tiled, the map editor: one zip holding a Tiled JSON map
// (scene.tmj, one tile layer named "scene"), its tileset (tiles.tsj, the
// sheet's 512 tiles) and the sheet (tiles.png), which refer to each other by
// those names; and a map, bare or in such a zip, read back into a scene.
import * as core from './core.js';

// fflate loads on first use, with the other codecs.
const codecs = () => import('./codecs.js');

const MAP = 'scene.tmj';
const TILESET = 'tiles.tsj';
const IMAGE = 'tiles.png';
const VERSION = { version: '1.8', tiledversion: '1.8.2' };
const FLIPS = 0xf0000000;  // a gid's flip and rotation bits
const MAX_MAP_BYTES = 16 * 1024 * 1024;  // far above any scene; bounds what a zip may unpack to
const STORED_AT = new Date(2000, 0, 1);  // the same bytes for the same scene

const json = (value) => new TextEncoder().encode(`${JSON.stringify(value, null, 1)}\n`);

// The zip for `cells`, `width` x `height` tile numbers row by row, and the sheet's PNG.
export async function sceneZip(cells, width, height, sheetPng) {
  const { zipSync } = await codecs();
  const tile = { tilewidth: core.TILE_SIZE, tileheight: core.TILE_SIZE };
  const map = {
    type: 'map', ...VERSION, orientation: 'orthogonal', renderorder: 'right-down', infinite: false,
    width, height, ...tile, compressionlevel: -1, nextlayerid: 2, nextobjectid: 1,
    tilesets: [{ firstgid: 1, source: TILESET }],
    layers: [{ id: 1, name: 'scene', type: 'tilelayer', x: 0, y: 0, width, height, opacity: 1, visible: true,
      data: Array.from(cells, (t) => t + 1) }],
  };
  const tileset = {
    type: 'tileset', ...VERSION, name: 'tiles', image: IMAGE, imagewidth: core.SHEET_WIDTH,
    imageheight: core.SHEET_HEIGHT, ...tile, tilecount: core.TILE_COUNT, columns: core.SHEET_COLUMNS, margin: 0, spacing: 0,
  };
  return zipSync({ [MAP]: json(map), [TILESET]: json(tileset), [IMAGE]: [sheetPng, { level: 0 }] }, { mtime: STORED_AT });
}

// ---- reading a map back

class Refusal extends Error {}

function need(condition, what) {
  if (!condition) throw new Refusal(what);
}

const isZip = (bytes) => bytes[0] === 0x50 && bytes[1] === 0x4b && bytes[2] === 0x03 && bytes[3] === 0x04;

// The map's text: the file itself, or the one .tmj in a zip.
function mapText(bytes, { unzipSync }) {
  if (!isZip(bytes)) return new TextDecoder().decode(bytes);
  let files;
  try {
    files = unzipSync(bytes, { filter: (f) => f.name.endsWith('.tmj') && f.originalSize <= MAX_MAP_BYTES });
  } catch {
    throw new Refusal('a damaged zip');
  }
  const maps = Object.values(files);
  need(maps.length === 1, 'no map (.tmj) in the zip, or more than one');
  return new TextDecoder().decode(maps[0]);
}

// A layer's gids, from a plain list or base64 with or without zlib or gzip.
function gids(layer, count, { unzlibSync, gunzipSync }) {
  if (Array.isArray(layer.data)) return layer.data;
  need(layer.encoding === 'base64' && typeof layer.data === 'string', 'layer data in an unknown encoding');
  let bytes;
  try {
    bytes = Uint8Array.from(atob(layer.data), (c) => c.charCodeAt(0));
    // Inflated into room for one byte more than it should hold, so no stream can grow past that.
    const room = { out: new Uint8Array(count * 4 + 1) };
    if (layer.compression === 'zlib') bytes = unzlibSync(bytes, room);
    else if (layer.compression === 'gzip') bytes = gunzipSync(bytes, room);
    else need(!layer.compression, `layer data compressed with ${layer.compression}, which is not read here`);
  } catch (error) {
    if (error instanceof Refusal) throw error;
    throw new Refusal('damaged layer data');
  }
  need(bytes.length === count * 4, 'layer data of the wrong length');
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.length);
  return Array.from({ length: count }, (_, i) => view.getUint32(4 * i, true));
}

// The first tile layer as a scene of up to MAX_SCENE_TILES across and down:
// { width, height, cells, left } with what was left out counted in `left`.
function sceneOfMap(map, fflate) {
  need(map !== null && typeof map === 'object' && Array.isArray(map.layers), 'not a Tiled map');
  need(map.infinite !== true, 'an infinite map is not read here');
  const layers = map.layers.filter((l) => l?.type === 'tilelayer');
  const layer = layers.find((l) => l.name === 'scene') ?? layers[0];
  need(layer !== undefined, 'the map has no tile layer');
  const isSide = (n) => Number.isInteger(n) && n > 0 && n <= 1 << 16;
  need(isSide(layer.width) && isSide(layer.height), 'a tile layer of no size');
  need(layer.width * layer.height * 4 <= MAX_MAP_BYTES, 'a tile layer too large');
  const firstgid = Number(map.tilesets?.[0]?.firstgid ?? 1);
  const data = gids(layer, layer.width * layer.height, fflate);
  need(data.length === layer.width * layer.height, 'layer data of the wrong length');
  const width = Math.min(layer.width, core.MAX_SCENE_TILES);
  const height = Math.min(layer.height, core.MAX_SCENE_TILES);
  const left = { cells: 0, flipped: 0, layers: map.layers.length - 1 };
  const cells = new Uint16Array(width * height);
  data.forEach((gid, i) => {
    const [x, y] = [i % layer.width, Math.floor(i / layer.width)];
    const tile = (gid >>> 0) - firstgid;
    if (x >= width || y >= height || gid & FLIPS || !(tile >= 0 && tile < core.TILE_COUNT)) {
      left.cells++;
      if (gid & FLIPS) left.flipped++;
    } else {
      cells[y * width + x] = tile;
    }
  });
  return { width, height, cells, left };
}

// "left out 3 cells (1 flipped) and 1 other layer", or nothing.
function leftOutLine({ cells, flipped, layers }) {
  const parts = [];
  if (cells > 0) parts.push(`${cells} cell${cells === 1 ? '' : 's'}${flipped > 0 ? ` (${flipped} flipped)` : ''}`);
  if (layers > 0) parts.push(`${layers} other layer${layers === 1 ? '' : 's'}`);
  return parts.length > 0 ? `; left out ${parts.join(' and ')}` : '';
}

// A map, bare (.tmj) or in a zip, as { width, height, cells, message }.
export async function readScene(bytes, name) {
  const fflate = await codecs();
  try {
    need(bytes.length <= MAX_MAP_BYTES, 'too large for a map');
    let map;
    try {
      map = JSON.parse(mapText(bytes, fflate));
    } catch (error) {
      if (error instanceof Refusal) throw error;
      throw new Refusal('not a Tiled JSON map');
    }
    const scene = sceneOfMap(map, fflate);
    return { ...scene, message: `opened the scene of '${name}', ${scene.width} x ${scene.height} tiles${leftOutLine(scene.left)}` };
  } catch (error) {
    if (error instanceof Refusal) throw new Error(`'${name}' was not opened: ${error.message}`);
    throw error;
  }
}
