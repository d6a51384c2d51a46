// The undo history: every action that changes the stored tiles becomes one
// step, the bytes it changed with their old and new values. The history is
// plain data, so it can be kept in the browser's storage.
import * as core from './core.js';

// Steps kept; older ones are folded into the base, the file undo returns to.
export const HISTORY_LIMIT = 1000;

export function newHistory(base) {
  return { base, steps: [], position: 0 };
}

function difference(before, after) {
  const offsets = [];
  for (let i = 0; i < before.length; i++) if (before[i] !== after[i]) offsets.push(i);
  if (offsets.length === 0) return null;
  const at = Uint32Array.from(offsets);
  return { offsets: at, before: Uint8Array.from(at, (i) => before[i]), after: Uint8Array.from(at, (i) => after[i]) };
}

function applyTo(bytes, step, forward) {
  const values = forward ? step.after : step.before;
  step.offsets.forEach((offset, i) => { bytes[offset] = values[i]; });
}

// Moves the core's tiles one step back or forth.
function stepped(step, forward) {
  const bytes = core.tileBuffer();
  applyTo(bytes, step, forward);
  core.setTiles(bytes);
  return step;
}

let snapshot = null;

// Brackets one action: the bytes before it, then its step once it ends.
export function begin() {
  snapshot = snapshot ?? core.tileBuffer();
}

export function commit(history) {
  if (snapshot === null) return null;
  const step = difference(snapshot, core.tileBuffer());
  snapshot = null;
  if (step === null) return null;
  history.steps.length = history.position;
  history.steps.push(step);
  if (history.steps.length > HISTORY_LIMIT) applyTo(history.base, history.steps.shift(), true);
  history.position = history.steps.length;
  return step;
}

export function undo(history) {
  return history.position > 0 ? stepped(history.steps[--history.position], false) : null;
}

export function redo(history) {
  return history.position < history.steps.length ? stepped(history.steps[history.position++], true) : null;
}
