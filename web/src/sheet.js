// Draws the sheet, the large tile view and the seamless view from the core's
// palette indices: whole-pixel scaling with no smoothing, tile borders and
// numbers on request, and the tile and pixel under the pointer.
import { SHEET_HEIGHT, SHEET_WIDTH, TILE_COUNT, TILE_SIZE, drawScene, fillImage, tileAt, tilePlace } from './core.js';

export const MAX_ZOOM = 8;
const TILE_VIEW_SCALE = 16;
export const SEAMLESS_COPIES = 3;  // across and down
const SEAMLESS_SCALE = 6;

// Palette entries as the canvas's RGBA words.
function words(palette) {
  return Uint32Array.from(palette, ([r, g, b]) => new Uint32Array(new Uint8Array([r, g, b, 255]).buffer)[0]);
}

// The indices of a width x height area as RGBA, into `image` or a new one;
// the core does the large ones.
function imageOf(indices, palette, width, height, image = new ImageData(width, height)) {
  const colors = words(palette);
  if (indices.length > TILE_SIZE * TILE_SIZE * 64) return fillImage(image, indices, colors);
  const out = new Uint32Array(image.data.buffer);
  for (let i = 0; i < out.length; i++) out[i] = colors[indices[i] & 15];
  return image;
}

// Each large canvas keeps its image: a new megabyte-sized ImageData on each
// redraw costs ten times the drawing.
const images = new WeakMap();

function imageFor(canvas, width, height) {
  const kept = images.get(canvas);
  if (kept?.width === width && kept.height === height) return kept;
  const image = new ImageData(width, height);
  images.set(canvas, image);
  return image;
}

// The same as a picture in an offscreen canvas, to draw scaled.
function picture(indices, palette, width, height) {
  const canvas = new OffscreenCanvas(width, height);
  canvas.getContext('2d').putImageData(imageOf(indices, palette, width, height), 0, 0);
  return canvas;
}

// A large picture, as the scene: the canvas holds it pixel for pixel and
// the page scales it `zoom` times, so a redraw costs one pass over its pixels.
export function putIndexed(canvas, indices, palette, width, height, zoom) {
  if (canvas.width !== width || canvas.height !== height) Object.assign(canvas, { width, height });
  Object.assign(canvas.style, { width: `${width * zoom}px`, height: `${height * zoom}px` });
  const context = canvas.getContext('2d');
  context.putImageData(imageOf(indices, palette, width, height, imageFor(canvas, width, height)), 0, 0);
  return context;
}

// The largest whole zoom at which the sheet fits the space it is given.
export function fitZoom(width, height) {
  const zoom = Math.floor(Math.min(width / SHEET_WIDTH, height / SHEET_HEIGHT));
  return Math.max(1, Math.min(MAX_ZOOM, zoom));
}

// Borders on the top and left edge of every tile in the area, so that a
// tile redrawn alone gets back its own share of the grid.
function drawGrid(context, zoom, tiles) {
  const step = TILE_SIZE * zoom;
  context.fillStyle = 'rgba(255, 255, 255, 0.35)';
  for (const tile of tiles) {
    const { x, y } = tilePlace(tile);
    if (x > 0) context.fillRect(x * zoom, y * zoom, 1, step);
    if (y > 0) context.fillRect(x * zoom, y * zoom, step, 1);
  }
}

function drawNumbers(context, zoom, tiles) {
  const size = Math.max(6, Math.floor(TILE_SIZE * zoom * 0.3));
  context.font = `${size}px monospace`;
  context.textBaseline = 'top';
  context.lineWidth = Math.max(2, size / 4);
  context.strokeStyle = 'black';
  context.fillStyle = 'white';
  for (const tile of tiles) {
    const { x, y } = tilePlace(tile);
    context.strokeText(String(tile), x * zoom + 2, y * zoom + 2);
    context.fillText(String(tile), x * zoom + 2, y * zoom + 2);
  }
}

function drawSelection(context, zoom, tile) {
  const step = TILE_SIZE * zoom;
  const { x, y } = tilePlace(tile);
  context.strokeStyle = '#ffd400';
  context.lineWidth = 2;
  context.strokeRect(x * zoom + 1, y * zoom + 1, step - 2, step - 2);
}

const ALL_TILES = () => Array.from({ length: TILE_COUNT }, (_, tile) => tile);

// A mark on each tile that differs from the file as loaded: a corner and a dashed border.
function drawChanged(context, zoom, tiles, changed) {
  const step = TILE_SIZE * zoom;
  context.strokeStyle = context.fillStyle = '#ff40ff';
  context.lineWidth = 1;
  context.setLineDash([3, 2]);
  for (const tile of tiles.filter((t) => changed[t])) {
    const { x, y } = tilePlace(tile);
    context.strokeRect(x * zoom + 0.5, y * zoom + 0.5, step - 1, step - 1);
    context.beginPath();
    context.moveTo(x * zoom + step, y * zoom);
    context.lineTo(x * zoom + step - Math.max(4, step / 4), y * zoom);
    context.lineTo(x * zoom + step, y * zoom + Math.max(4, step / 4));
    context.fill();
  }
  context.setLineDash([]);
}

function decorate(context, { zoom, grid, numbers, selected, changed }, tiles) {
  if (grid) drawGrid(context, zoom, tiles);
  if (numbers) drawNumbers(context, zoom, tiles);
  if (changed) drawChanged(context, zoom, tiles, changed);
  if (selected !== null && tiles.includes(selected)) drawSelection(context, zoom, selected);
}

// A width x height picture of indices on the whole canvas, `zoom` times as large.
function drawIndexed(canvas, indices, palette, width, height, zoom) {
  canvas.width = width * zoom;
  canvas.height = height * zoom;
  const context = canvas.getContext('2d');
  context.imageSmoothingEnabled = false;
  context.drawImage(picture(indices, palette, width, height), 0, 0, canvas.width, canvas.height);
  return context;
}

export function drawSheet(canvas, indices, palette, view) {
  decorate(drawIndexed(canvas, indices, palette, SHEET_WIDTH, SHEET_HEIGHT, view.zoom), view, ALL_TILES());
}

// Redraws only `tiles`, each within its own square.
export function drawTiles(canvas, indices, palette, view, tiles) {
  const context = canvas.getContext('2d');
  context.imageSmoothingEnabled = false;
  const step = TILE_SIZE * view.zoom;
  for (const tile of tiles) {
    const { x, y } = tilePlace(tile);
    context.drawImage(picture(tilePixels(indices, tile), palette, TILE_SIZE, TILE_SIZE), x * view.zoom, y * view.zoom, step, step);
  }
  decorate(context, view, tiles);
}

// One tile's indices, cut out of the sheet.
export function tilePixels(indices, tile) {
  const out = new Uint8Array(TILE_SIZE * TILE_SIZE);
  const { x, y: top } = tilePlace(tile);
  for (let y = 0; y < TILE_SIZE; y++)
    out.set(indices.subarray((top + y) * SHEET_WIDTH + x, (top + y) * SHEET_WIDTH + x + TILE_SIZE), y * TILE_SIZE);
  return out;
}

export function drawTileView(canvas, indices, palette, tile) {
  drawIndexed(canvas, tilePixels(indices, tile), palette, TILE_SIZE, TILE_SIZE, TILE_VIEW_SCALE);
}

// The tile repeated 3 x 3, as the sheet shows it, from the sheet last rendered.
export function drawSeamless(canvas, palette, tile) {
  const side = SEAMLESS_COPIES * TILE_SIZE;
  const cells = new Uint16Array(SEAMLESS_COPIES * SEAMLESS_COPIES).fill(tile);
  drawIndexed(canvas, drawScene(cells, SEAMLESS_COPIES, SEAMLESS_COPIES), palette, side, side, SEAMLESS_SCALE);
}

// The sheet pixel under a pointer event: { px, py } on the sheet, its tile
// and { x, y } within the tile; or null.
export function sheetPoint(canvas, event) {
  const box = canvas.getBoundingClientRect();
  const px = Math.floor(((event.clientX - box.left) / box.width) * SHEET_WIDTH);
  const py = Math.floor(((event.clientY - box.top) / box.height) * SHEET_HEIGHT);
  if (px < 0 || py < 0 || px >= SHEET_WIDTH || py >= SHEET_HEIGHT) return null;
  const tile = tileAt(px, py);
  const place = tilePlace(tile);
  return { px, py, tile, x: px - place.x, y: py - place.y };
}

// The pixel under a pointer event of a view `tiles` tiles wide and high
// (the large view, the seamless view): { x, y } from its top left, or null.
export function viewPoint(canvas, event, tiles = 1) {
  const box = canvas.getBoundingClientRect();
  const side = tiles * TILE_SIZE;
  const x = Math.floor(((event.clientX - box.left) / box.width) * side);
  const y = Math.floor(((event.clientY - box.top) / box.height) * side);
  return x >= 0 && y >= 0 && x < side && y < side ? { x, y } : null;
}
