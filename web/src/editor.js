// The editor: the tools and buttons that change the stored tiles through the
// core, each change one step of the undo history. The page hands it its
// state and the few things it does after an edit. Tools draw on surfaces:
// the sheet, the large view and the seamless view, each with its own
// coordinates and a map from them to a tile's pixel.
import * as core from './core.js';
import * as history from './history.js';
import { modeColors } from './palettes.js';
import { describeTile } from './tileinfo.js';

const $ = (id) => document.getElementById(id);

// The page's hooks: { state, redraw, redrawTiles, edited, select, setStatus, discardEdits, guard }.
let page = null;
let state = null;

// Runs an edit of the stored tiles or the scene as one history step.
export function act(tiles, change) {
  history.begin(state.scene);
  change();
  if (history.commit(state.history, state.scene)) page.edited();
  page.redrawTiles(tiles);
}

function stepHistory(step) {
  if (!step(state.history, state.scene)) return;
  page.edited();
  page.redraw();
}

export function showColors() {
  const colors = modeColors(core.palette(state.options.cga), state.options.cga);
  state.color = Math.min(state.color, colors.length - 1);
  $('colors').replaceChildren(...colors.map(([r, g, b], i) => {
    const label = document.createElement('label');
    const input = Object.assign(document.createElement('input'), { type: 'radio', name: 'color', value: i, checked: i === state.color });
    input.addEventListener('change', () => { state.color = i; });
    const swatch = Object.assign(document.createElement('span'), { className: 'swatch' });
    swatch.style.background = `rgb(${r}, ${g}, ${b})`;
    label.append(input, swatch, ` ${i.toString(16)} ${core.colorName(i, state.options.cga)}`);
    return label;
  }));
}

function chooseColor(index) {
  const input = document.querySelector(`input[name=color][value="${index}"]`);
  if (!input) return;
  input.checked = true;
  state.color = index;
}

// The tool acting at (sx, sy) of a surface, a function from its
// coordinates to { tile, x, y }, the pixel of a tile.
export function useTool(surface, sx, sy) {
  const { cga } = state.options;
  const { tile, x, y } = surface(sx, sy);
  if (state.tool === 'picker') chooseColor(core.edit.pixel(tile, y, x, cga));
  if (state.tool === 'fill') act([tile], () => core.edit.fill(tile, y, x, state.color, cga));
  if (state.tool === 'pencil') {
    history.begin(state.scene);
    state.stroke = { surface, last: [sx, sy] };
    drawTo(sx, sy);
  }
}

// Extends a pencil stroke in progress to (sx, sy) of its surface, with no gaps.
export function drawTo(sx, sy) {
  if (state.stroke === null) return;
  const { cga } = state.options;
  const tiles = new Set();
  for (const [lx, ly] of line(...state.stroke.last, sx, sy)) {
    const { tile, x, y } = state.stroke.surface(lx, ly);
    core.edit.setPixel(tile, y, x, state.color, cga);
    tiles.add(tile);
  }
  state.stroke.last = [sx, sy];
  page.redrawTiles([...tiles]);
}

export function endStroke() {
  if (state.stroke === null) return;
  state.stroke = null;
  if (history.commit(state.history, state.scene)) page.edited();
}

// The sheet as a surface: sheet pixels to the tile that holds them.
function sheetSurface(px, py) {
  const tile = core.tileAt(px, py);
  const place = core.tilePlace(tile);
  return { tile, x: px - place.x, y: py - place.y };
}

// A press on the sheet: select the tile, then swap or let the tool act.
export function pressSheet(point) {
  const from = state.selected;
  page.select(point.tile);
  if (state.swapping) {
    state.swapping = false;
    $('swap').setAttribute('aria-pressed', 'false');
    if (from !== null && from !== point.tile) act([from, point.tile], () => core.edit.swap(from, point.tile, state.options.cga));
    return;
  }
  useTool(sheetSurface, point.px, point.py);
}

function onSelected(change) {
  if (state.selected === null) throw new Error('select a tile first: click it on the sheet');
  change(state.selected);
}

export function bindEditor(hooks) {
  page = hooks;
  state = hooks.state;
  for (const radio of document.querySelectorAll('input[name=tool]'))
    radio.addEventListener('change', () => { state.tool = radio.value; });
  const buttons = {
    'copy-tile': () => onSelected((tile) => { core.edit.copy(tile, state.options.cga); state.copied = true; }),
    'paste-tile': () => onSelected((tile) => {
      if (!state.copied) throw new Error('copy a tile first');
      act([tile], () => core.edit.paste(tile, state.options.cga));
    }),
    'flip-horizontally': () => onSelected((tile) => act([tile], () => core.edit.flip(tile, true, state.options.cga))),
    'flip-vertically': () => onSelected((tile) => act([tile], () => core.edit.flip(tile, false, state.options.cga))),
    swap: () => onSelected(() => {
      state.swapping = !state.swapping;
      $('swap').setAttribute('aria-pressed', String(state.swapping));
      page.setStatus(state.swapping ? `click the tile to swap with tile ${state.selected}` : describeTile(state.table[state.selected]));
    }),
    undo: () => stepHistory(history.undo),
    redo: () => stepHistory(history.redo),
    discard: page.discardEdits,
  };
  for (const [id, handler] of Object.entries(buttons)) $(id).addEventListener('click', page.guard(handler));
  document.addEventListener('keydown', page.guard((event) => {
    const key = event.key.toLowerCase();
    if (event.ctrlKey && (key === 'y' || (key === 'z' && event.shiftKey))) stepHistory(history.redo);
    else if (event.ctrlKey && key === 'z') stepHistory(history.undo);
    else if (!event.ctrlKey && !event.altKey && /^[0-9a-f]$/.test(key) && !event.target.closest('select, input[type=number]')) chooseColor(parseInt(key, 16));
    else return;
    event.preventDefault();
  }));
  window.addEventListener('beforeunload', (event) => { if (state.modified) event.preventDefault(); });
}

// Points from (x0, y0) to (x1, y1), both ends included, with no gaps.
export function line(x0, y0, x1, y1) {
  const points = [];
  const [dx, dy] = [Math.abs(x1 - x0), -Math.abs(y1 - y0)];
  const [sx, sy] = [x0 < x1 ? 1 : -1, y0 < y1 ? 1 : -1];
  for (let error = dx + dy; ;) {
    points.push([x0, y0]);
    if (x0 === x1 && y0 === y1) return points;
    const twice = 2 * error;
    if (twice >= dy) { error += dy; x0 += sx; }
    if (twice <= dx) { error += dx; y0 += sy; }
  }
}
