// The editor: the tools and buttons that change the stored tiles through the
// core, each change one step of the undo history. The page hands it its
// state and the few things it does after an edit.
import * as core from './core.js';
import * as history from './history.js';
import { modeColors } from './palettes.js';
import { describeTile } from './tileinfo.js';

const $ = (id) => document.getElementById(id);

// The page's hooks: { state, redraw, redrawTiles, edited, select, setStatus, discardEdits, guard }.
let page = null;
let state = null;

// Runs an edit of the stored tiles as one history step.
function act(tiles, change) {
  history.begin();
  change();
  if (history.commit(state.history)) page.edited();
  page.redrawTiles(tiles);
}

function stepHistory(step) {
  if (!step(state.history)) return;
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

// The tool acting on pixel (x, y) of a tile, which is sheet pixel (px, py).
export function useTool(tile, x, y, px, py) {
  const { cga } = state.options;
  if (state.tool === 'picker') chooseColor(core.edit.pixel(tile, y, x, cga));
  if (state.tool === 'fill') act([tile], () => core.edit.fill(tile, y, x, state.color, cga));
  if (state.tool === 'pencil') {
    history.begin();
    state.stroke = [px, py];
    drawTo(px, py);
  }
}

// Extends a pencil stroke in progress to sheet pixel (px, py), with no gaps.
export function drawTo(px, py) {
  if (state.stroke === null) return;
  const { cga } = state.options;
  const tiles = new Set();
  for (const [x, y] of line(state.stroke[0], state.stroke[1], px, py)) {
    const tile = core.tileAt(x, y);
    const place = core.tilePlace(tile);
    core.edit.setPixel(tile, y - place.y, x - place.x, state.color, cga);
    tiles.add(tile);
  }
  state.stroke = [px, py];
  page.redrawTiles([...tiles]);
}

export function endStroke() {
  if (state.stroke === null) return;
  state.stroke = null;
  if (history.commit(state.history)) page.edited();
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
  useTool(point.tile, point.x, point.y, point.px, point.py);
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
    else if (!event.ctrlKey && !event.altKey && /^[0-9a-f]$/.test(key) && event.target.tagName !== 'SELECT') chooseColor(parseInt(key, 16));
    else return;
    event.preventDefault();
  }));
  window.addEventListener('beforeunload', (event) => { if (state.modified) event.preventDefault(); });
}

// Sheet pixels from (x0, y0) to (x1, y1), both ends included, with no gaps.
function line(x0, y0, x1, y1) {
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
