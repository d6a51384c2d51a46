// Draws the sheet and the large tile view from the core's palette indices:
// whole-pixel scaling with no smoothing, tile borders and numbers on request,
// and the tile and pixel under the pointer.
import { SHEET_HEIGHT, SHEET_WIDTH, TILE_COUNT, TILE_SIZE, tileAt, tilePlace } from './core.js';

export const MAX_ZOOM = 8;
const TILE_VIEW_SCALE = 16;

// Palette entries as the canvas's RGBA words.
function words(palette) {
  return palette.map(([r, g, b]) => new Uint32Array(new Uint8Array([r, g, b, 255]).buffer)[0]);
}

// The indices of a width x height area as a picture in an offscreen canvas.
function picture(indices, palette, width, height) {
  const image = new ImageData(width, height);
  const out = new Uint32Array(image.data.buffer);
  const colors = words(palette);
  for (let i = 0; i < out.length; i++) out[i] = colors[indices[i] & 15];
  const canvas = new OffscreenCanvas(width, height);
  canvas.getContext('2d').putImageData(image, 0, 0);
  return canvas;
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

function decorate(context, { zoom, grid, numbers, selected }, tiles) {
  if (grid) drawGrid(context, zoom, tiles);
  if (numbers) drawNumbers(context, zoom, tiles);
  if (selected !== null && tiles.includes(selected)) drawSelection(context, zoom, selected);
}

export function drawSheet(canvas, indices, palette, view) {
  canvas.width = SHEET_WIDTH * view.zoom;
  canvas.height = SHEET_HEIGHT * view.zoom;
  const context = canvas.getContext('2d');
  context.imageSmoothingEnabled = false;
  context.drawImage(picture(indices, palette, SHEET_WIDTH, SHEET_HEIGHT), 0, 0, canvas.width, canvas.height);
  decorate(context, view, ALL_TILES());
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
  canvas.width = canvas.height = TILE_SIZE * TILE_VIEW_SCALE;
  const context = canvas.getContext('2d');
  context.imageSmoothingEnabled = false;
  context.drawImage(picture(tilePixels(indices, tile), palette, TILE_SIZE, TILE_SIZE), 0, 0, canvas.width, canvas.height);
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

// The pixel of the large view under a pointer event: { x, y }, or null.
export function tileViewPoint(canvas, event) {
  const box = canvas.getBoundingClientRect();
  const x = Math.floor(((event.clientX - box.left) / box.width) * TILE_SIZE);
  const y = Math.floor(((event.clientY - box.top) / box.height) * TILE_SIZE);
  return x >= 0 && y >= 0 && x < TILE_SIZE && y < TILE_SIZE ? { x, y } : null;
}
