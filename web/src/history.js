// The undo history: every action that changes the stored tiles or the scene
// becomes one step, the values it changed with their old and new values, so
// Undo and Redo walk edits and placements in the order they were made. The
// history is plain data (typed arrays), so it can be kept in the browser's
// storage and saved in a work file.
import * as core from './core.js';

// Steps kept; older ones are folded into the base, the state undo returns to.
export const HISTORY_LIMIT = 1000;

// `tiles` is the whole tile buffer, `scene` the scene's array.
export function newHistory(tiles, scene) {
  return { base: { tiles: tiles.slice(), scene: scene.slice() }, steps: [], position: 0 };
}

// The offsets where `after` differs from `before`, with both values; null for none.
function difference(before, after) {
  const offsets = [];
  for (let i = 0; i < before.length; i++) if (before[i] !== after[i]) offsets.push(i);
  if (offsets.length === 0) return null;
  const at = Uint32Array.from(offsets);
  return { offsets: at, before: before.constructor.from(at, (i) => before[i]), after: after.constructor.from(at, (i) => after[i]) };
}

export function applyTo(values, change, forward) {
  if (change === null) return;
  const set = forward ? change.after : change.before;
  change.offsets.forEach((offset, i) => { values[offset] = set[i]; });
}

// Moves the core's tiles and `scene` one step back or forth.
function stepped(step, scene, forward) {
  if (step.tiles !== null) {
    const bytes = core.tileBuffer();
    applyTo(bytes, step.tiles, forward);
    core.setTiles(bytes);
  }
  applyTo(scene, step.scene, forward);
  return step;
}

let snapshot = null;

// Brackets one action: the tiles and scene before it, then its step once it ends.
export function begin(scene) {
  snapshot = snapshot ?? { tiles: core.tileBuffer(), scene: scene.slice() };
}

export function commit(history, scene) {
  if (snapshot === null) return null;
  const step = { tiles: difference(snapshot.tiles, core.tileBuffer()), scene: difference(snapshot.scene, scene) };
  snapshot = null;
  if (step.tiles === null && step.scene === null) return null;
  history.steps.length = history.position;
  history.steps.push(step);
  if (history.steps.length > HISTORY_LIMIT) {
    const oldest = history.steps.shift();
    applyTo(history.base.tiles, oldest.tiles, true);
    applyTo(history.base.scene, oldest.scene, true);
  }
  history.position = history.steps.length;
  return step;
}

export function undo(history, scene) {
  return history.position > 0 ? stepped(history.steps[--history.position], scene, false) : null;
}

export function redo(history, scene) {
  return history.position < history.steps.length ? stepped(history.steps[history.position++], scene, true) : null;
}
