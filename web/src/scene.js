// The scene: tiles laid out on a grid, to see how they fit together. It is
// one Uint16Array, so the undo history diffs it as it diffs the tile file:
// its width and height in tiles, then a grid of MAX_SCENE_TILES x
// MAX_SCENE_TILES tile numbers, row by row, whose top left width x height
// show. This module keeps it, draws it and places tiles on it by mouse and
// keyboard; the core draws the tiles.
import * as core from './core.js';
import { act, line } from './editor.js';
import * as history from './history.js';
import { putIndexed } from './sheet.js';

const START_WIDTH = 20;
const START_HEIGHT = 12;

const $ = (id) => document.getElementById(id);
const side = () => core.MAX_SCENE_TILES;
const at = (x, y) => 2 + y * side() + x;

// A new scene holds tile 0 in every cell.
export function newScene(width = START_WIDTH, height = START_HEIGHT) {
  const scene = new Uint16Array(2 + side() * side());
  scene[0] = width;
  scene[1] = height;
  return scene;
}

export const sceneSize = (scene) => ({ width: scene[0], height: scene[1] });

// Whether `scene` is a scene: the right length, a size in range, tile numbers of the sheet.
export function isScene(scene) {
  if (!(scene instanceof Uint16Array) || scene.length !== 2 + side() * side()) return false;
  const { width, height } = sceneSize(scene);
  const fits = (n) => n >= 1 && n <= side();
  return fits(width) && fits(height) && scene.subarray(2).every((tile) => tile < core.TILE_COUNT);
}

// Resizes in place, keeping what fits; cells that no longer show hold tile 0.
export function resize(scene, width, height) {
  for (let y = 0; y < side(); y++)
    for (let x = 0; x < side(); x++) if (x >= width || y >= height) scene[at(x, y)] = 0;
  scene[0] = width;
  scene[1] = height;
}

// The cells that show, row by row: what the core draws and Tiled stores.
export function sceneCells(scene) {
  const { width, height } = sceneSize(scene);
  const cells = new Uint16Array(width * height);
  for (let y = 0; y < height; y++) cells.set(scene.subarray(at(0, y), at(width, y)), y * width);
  return cells;
}

// Fills `scene` from cells row by row, `width` x `height`, as sceneCells gives them.
export function setSceneCells(scene, width, height, cells) {
  resize(scene, 0, 0);
  scene[0] = width;
  scene[1] = height;
  for (let y = 0; y < height; y++) scene.set(cells.subarray(y * width, (y + 1) * width), at(0, y));
}

// The scene's picture: palette indices, one byte a pixel.
export function scenePicture(scene) {
  const { width, height } = sceneSize(scene);
  return core.drawScene(sceneCells(scene), width, height);
}

// ---- on the page

// The page's hooks: { state, zoom, select, edited, guard }.
let page = null;
let state = null;
let cursor = { x: 0, y: 0 };  // the keyboard's cell, shown while the scene has focus
let dragged = null;  // the last cell of a drag in progress

export function drawScene() {
  const { width, height } = sceneSize(state.scene);
  const size = core.TILE_SIZE;
  const context = putIndexed($('scene'), scenePicture(state.scene), state.palette, width * size, height * size, page.zoom());
  $('scene-width').value = width;
  $('scene-height').value = height;
  if (document.activeElement !== $('scene')) return;
  context.strokeStyle = '#ffd400';
  context.lineWidth = 1;
  context.strokeRect(cursor.x * size + 0.5, cursor.y * size + 0.5, size - 1, size - 1);
}

function cellAt(event) {
  const box = $('scene').getBoundingClientRect();
  const { width, height } = sceneSize(state.scene);
  const x = Math.floor(((event.clientX - box.left) / box.width) * width);
  const y = Math.floor(((event.clientY - box.top) / box.height) * height);
  return x >= 0 && y >= 0 && x < width && y < height ? { x, y } : null;
}

function selectedTile() {
  if (state.selected === null) throw new Error('select a tile first: click it on the sheet');
  return state.selected;
}

// The selected tile on every cell from one to another.
function lay(tile, from, to) {
  for (const [x, y] of line(from.x, from.y, to.x, to.y)) state.scene[at(x, y)] = tile;
}

// A press places the selected tile; a drag goes on placing it, all one step.
function press(event) {
  const cell = cellAt(event);
  if (cell === null) return;
  if (event.altKey) {
    page.select(state.scene[at(cell.x, cell.y)]);
    return;
  }
  const tile = selectedTile();
  history.begin(state.scene);
  lay(tile, cell, cell);
  $('scene').setPointerCapture(event.pointerId);
  dragged = cell;
  drawScene();
}

function drag(event) {
  const cell = cellAt(event);
  if (dragged === null || cell === null) return;
  lay(selectedTile(), dragged, cell);
  dragged = cell;
  drawScene();
}

function release() {
  if (dragged === null) return;
  dragged = null;
  if (history.commit(state.history, state.scene)) page.edited();
}

function key(event) {
  const moves = { ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1] };
  const { width, height } = sceneSize(state.scene);
  if (event.key in moves) {
    const [dx, dy] = moves[event.key];
    cursor = { x: Math.min(width - 1, Math.max(0, cursor.x + dx)), y: Math.min(height - 1, Math.max(0, cursor.y + dy)) };
    drawScene();
  } else if (event.key === 'Enter') {
    const tile = selectedTile();
    act([], () => lay(tile, cursor, cursor));
    drawScene();
  } else {
    return;
  }
  event.preventDefault();
}

// A size from its input, 1 to MAX_SCENE_TILES; other values put the input back.
function resizeFrom(input, name) {
  const value = Number(input.value);
  const { width, height } = sceneSize(state.scene);
  if (!Number.isInteger(value) || value < 1 || value > side()) {
    drawScene();
    throw new Error(`the scene is 1 to ${side()} tiles ${name === 'width' ? 'across' : 'down'}`);
  }
  act([], () => resize(state.scene, name === 'width' ? value : width, name === 'height' ? value : height));
  cursor = { x: Math.min(cursor.x, state.scene[0] - 1), y: Math.min(cursor.y, state.scene[1] - 1) };
  drawScene();
}

export function bindScene(hooks) {
  page = hooks;
  state = hooks.state;
  const canvas = $('scene');
  canvas.addEventListener('pointerdown', page.guard(press));
  canvas.addEventListener('pointermove', page.guard(drag));
  for (const type of ['pointerup', 'pointercancel']) canvas.addEventListener(type, page.guard(release));
  canvas.addEventListener('keydown', page.guard(key));
  canvas.addEventListener('focus', () => drawScene());
  canvas.addEventListener('blur', () => drawScene());
  $('scene-width').addEventListener('change', page.guard(() => resizeFrom($('scene-width'), 'width')));
  $('scene-height').addEventListener('change', page.guard(() => resizeFrom($('scene-height'), 'height')));
}
