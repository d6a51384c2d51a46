// Draws the sheet and the large tile view from the core's palette indices:
// whole-pixel scaling with no smoothing, tile borders and numbers on request,
// and the tile and pixel under the pointer.
import { SHEET_COLUMNS, SHEET_HEIGHT, SHEET_WIDTH, TILE_COUNT, TILE_SIZE } from './core.js';

export const MAX_ZOOM = 8;
const TILE_VIEW_SCALE = 16;

// Palette entries as the canvas's RGBA words.
function words(palette) {
  return palette.map(([r, g, b]) => new Uint32Array(new Uint8Array([r, g, b, 255]).buffer)[0]);
}

// The indices as a 1:1 picture in an offscreen canvas.
function picture(indices, palette, width, height) {
  const image = new ImageData(width, height);
  const out = new Uint32Array(image.data.buffer);
  const colours = words(palette);
  for (let i = 0; i < out.length; i++) out[i] = colours[indices[i] & 15];
  const canvas = new OffscreenCanvas(width, height);
  canvas.getContext('2d').putImageData(image, 0, 0);
  return canvas;
}

// The largest whole zoom at which the sheet fits the space it is given.
export function fitZoom(width, height) {
  const zoom = Math.floor(Math.min(width / SHEET_WIDTH, height / SHEET_HEIGHT));
  return Math.max(1, Math.min(MAX_ZOOM, zoom));
}

function drawGrid(context, zoom) {
  const step = TILE_SIZE * zoom;
  context.fillStyle = 'rgba(255, 255, 255, 0.35)';
  for (let x = step; x < SHEET_WIDTH * zoom; x += step) context.fillRect(x, 0, 1, SHEET_HEIGHT * zoom);
  for (let y = step; y < SHEET_HEIGHT * zoom; y += step) context.fillRect(0, y, SHEET_WIDTH * zoom, 1);
}

function drawNumbers(context, zoom) {
  const size = Math.max(6, Math.floor(TILE_SIZE * zoom * 0.3));
  context.font = `${size}px monospace`;
  context.textBaseline = 'top';
  context.lineWidth = Math.max(2, size / 4);
  context.strokeStyle = 'black';
  context.fillStyle = 'white';
  for (let tile = 0; tile < TILE_COUNT; tile++) {
    const x = (tile % SHEET_COLUMNS) * TILE_SIZE * zoom + 2;
    const y = Math.floor(tile / SHEET_COLUMNS) * TILE_SIZE * zoom + 2;
    context.strokeText(String(tile), x, y);
    context.fillText(String(tile), x, y);
  }
}

function drawSelection(context, zoom, tile) {
  const step = TILE_SIZE * zoom;
  context.strokeStyle = '#ffd400';
  context.lineWidth = 2;
  context.strokeRect((tile % SHEET_COLUMNS) * step + 1, Math.floor(tile / SHEET_COLUMNS) * step + 1, step - 2, step - 2);
}

export function drawSheet(canvas, indices, palette, { zoom, grid, numbers, selected }) {
  canvas.width = SHEET_WIDTH * zoom;
  canvas.height = SHEET_HEIGHT * zoom;
  const context = canvas.getContext('2d');
  context.imageSmoothingEnabled = false;
  context.drawImage(picture(indices, palette, SHEET_WIDTH, SHEET_HEIGHT), 0, 0, canvas.width, canvas.height);
  if (grid) drawGrid(context, zoom);
  if (numbers) drawNumbers(context, zoom);
  if (selected !== null) drawSelection(context, zoom, selected);
}

// One tile's indices, cut out of the sheet.
export function tilePixels(indices, tile) {
  const out = new Uint8Array(TILE_SIZE * TILE_SIZE);
  const left = (tile % SHEET_COLUMNS) * TILE_SIZE;
  const top = Math.floor(tile / SHEET_COLUMNS) * TILE_SIZE;
  for (let y = 0; y < TILE_SIZE; y++)
    out.set(indices.subarray((top + y) * SHEET_WIDTH + left, (top + y) * SHEET_WIDTH + left + TILE_SIZE), y * TILE_SIZE);
  return out;
}

export function drawTileView(canvas, indices, palette, tile) {
  canvas.width = canvas.height = TILE_SIZE * TILE_VIEW_SCALE;
  const context = canvas.getContext('2d');
  context.imageSmoothingEnabled = false;
  context.drawImage(picture(tilePixels(indices, tile), palette, TILE_SIZE, TILE_SIZE), 0, 0, canvas.width, canvas.height);
}

// The sheet pixel under a pointer event: { tile, x, y } within the tile, or null.
export function sheetPoint(canvas, event) {
  const box = canvas.getBoundingClientRect();
  const px = Math.floor(((event.clientX - box.left) / box.width) * SHEET_WIDTH);
  const py = Math.floor(((event.clientY - box.top) / box.height) * SHEET_HEIGHT);
  if (px < 0 || py < 0 || px >= SHEET_WIDTH || py >= SHEET_HEIGHT) return null;
  const tile = Math.floor(py / TILE_SIZE) * SHEET_COLUMNS + Math.floor(px / TILE_SIZE);
  return { tile, x: px % TILE_SIZE, y: py % TILE_SIZE };
}

// The pixel of the large view under a pointer event: { x, y }, or null.
export function tileViewPoint(canvas, event) {
  const box = canvas.getBoundingClientRect();
  const x = Math.floor(((event.clientX - box.left) / box.width) * TILE_SIZE);
  const y = Math.floor(((event.clientY - box.top) / box.height) * TILE_SIZE);
  return x >= 0 && y >= 0 && x < TILE_SIZE && y < TILE_SIZE ? { x, y } : null;
}
