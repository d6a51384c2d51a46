// The work: the tile file as loaded, its name, the options, whether it has
// changed since it was last saved, and the undo history, whose base and
// steps give the tiles and the scene as they are now. The browser keeps it
// as it changes; "Save work" writes it as one JSON file that "Open work"
// takes back, in this browser or another. Whatever comes in is checked
// whole, steps replayed, before any of it is used.
import * as core from './core.js';
import { HISTORY_LIMIT, applyTo } from './history.js';
import { isScene, newScene } from './scene.js';

const FORMAT = 'qelega_shapes work';
const VERSION = 1;
export const WORK_EXTENSION = '.qelega.json';

// The work of the page's state, sharing its arrays.
export function workOf({ fileName, original, options, modified, history }) {
  return { format: FORMAT, version: VERSION, fileName, original, options: { ...options }, modified, history };
}

// ---- checking

class Refusal extends Error {}

function need(condition, what) {
  if (!condition) throw new Refusal(what);
}

const isIndex = (n, length) => Number.isInteger(n) && n >= 0 && n < length;

function checkChange(change, length, type, what) {
  if (change === null) return;
  need(typeof change === 'object' && change.offsets instanceof Uint32Array, what);
  need(change.before instanceof type && change.after instanceof type, what);
  const { offsets } = change;
  need(change.before.length === offsets.length && change.after.length === offsets.length && offsets.length > 0, what);
  need(offsets.every((o, i) => isIndex(o, length) && (i === 0 || o > offsets[i - 1])), what);
}

// Steps forward from the base, each checked against what it says it changes.
function replay(history) {
  const now = { tiles: history.base.tiles.slice(), scene: history.base.scene.slice() };
  history.steps.forEach((step, n) => {
    const what = `step ${n + 1} does not fit the work`;
    for (const [values, change] of [[now.tiles, step.tiles], [now.scene, step.scene]]) {
      need(change === null || change.offsets.every((o, i) => values[o] === change.before[i]), what);
      applyTo(values, change, true);
    }
    need(isScene(now.scene), what);
  });
  return now;
}

// Checks a work in its typed form; its state at every step of its history.
function checkWork(work) {
  need(work !== null && typeof work === 'object' && work.format === FORMAT, 'not a work file of qelega_shapes');
  need(work.version === VERSION, `work file version ${work.version} is not read here`);
  need(typeof work.fileName === 'string' && work.fileName.length > 0 && work.fileName.length <= 255, 'no file name');
  const lengths = [core.tileFileBytes(false), core.tileFileBytes(true)];
  need(work.original instanceof Uint8Array && lengths.includes(work.original.length), 'no tile file');
  const { options } = work;
  need(options !== null && typeof options === 'object', 'no options');
  need(['cga', 'dungeon', 'mirrorRoom', 'remakeWater'].every((o) => typeof options[o] === 'boolean'), 'bad options');
  need(options.cga || work.original.length === lengths[0], 'a CGA tile file shown as EGA');
  need(typeof work.modified === 'boolean', 'a damaged work');
  const { history } = work;
  need(history !== null && typeof history === 'object' && Array.isArray(history.steps), 'no history');
  need(history.base?.tiles instanceof Uint8Array && history.base.tiles.length === lengths[0], 'no tiles');
  need(isScene(history.base.scene), 'no scene');
  need(history.steps.length <= HISTORY_LIMIT, 'too many steps');
  need(isIndex(history.position, history.steps.length + 1), 'bad history position');
  for (const step of history.steps) {
    need(step !== null && typeof step === 'object' && (step.tiles !== null || step.scene !== null), 'an empty step');
    checkChange(step.tiles, lengths[0], Uint8Array, 'a damaged step');
    checkChange(step.scene, history.base.scene.length, Uint16Array, 'a damaged step');
  }
  replay(history);
  return work;
}

// ---- the file: JSON, its byte arrays in base64

function base64(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(text);
}

function unbase64(text) {
  need(typeof text === 'string', 'a damaged array');
  try {
    return Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
  } catch {
    throw new Refusal('a damaged array');
  }
}

// 16-bit values as their little-endian bytes.
const words = (values) => base64(new Uint8Array(Uint16Array.from(values, (v) => v).buffer));
function unwords(text) {
  const bytes = unbase64(text);
  need(bytes.length % 2 === 0, 'a damaged array');
  return Uint16Array.from({ length: bytes.length / 2 }, (_, i) => bytes[2 * i] | (bytes[2 * i + 1] << 8));
}

const CODECS = { tiles: [base64, unbase64], scene: [words, unwords] };

function changeOut(change, [encode]) {
  return change && { offsets: [...change.offsets], before: encode(change.before), after: encode(change.after) };
}

function changeIn(change, [, decode]) {
  if (change === null) return null;
  need(typeof change === 'object' && Array.isArray(change.offsets), 'a damaged step');
  need(change.offsets.every((o) => isIndex(o, 2 ** 32)), 'a damaged step');
  return { offsets: Uint32Array.from(change.offsets), before: decode(change.before), after: decode(change.after) };
}

export function encodeWork(work) {
  const { history } = work;
  const file = {
    ...work,
    original: base64(work.original),
    history: {
      position: history.position,
      base: { tiles: base64(history.base.tiles), scene: words(history.base.scene) },
      steps: history.steps.map((s) => ({ tiles: changeOut(s.tiles, CODECS.tiles), scene: changeOut(s.scene, CODECS.scene) })),
    },
  };
  return new TextEncoder().encode(`${JSON.stringify(file)}\n`);
}

// A work file's bytes to a checked work, or an error that says why not.
export function decodeWork(bytes, name) {
  try {
    let file;
    try {
      file = JSON.parse(new TextDecoder('utf-8', { fatal: true }).decode(bytes));
    } catch {
      throw new Refusal('not a work file of qelega_shapes');
    }
    need(file !== null && typeof file === 'object' && file.format === FORMAT, 'not a work file of qelega_shapes');
    const { history } = file;
    need(history !== null && typeof history === 'object' && Array.isArray(history.steps), 'no history');
    need(history.base !== null && typeof history.base === 'object', 'no history');
    return checkWork({
      ...file,
      original: unbase64(file.original),
      history: {
        position: history.position,
        base: { tiles: unbase64(history.base.tiles), scene: unwords(history.base.scene) },
        steps: history.steps.map((s) => {
          need(s !== null && typeof s === 'object', 'a damaged step');
          return { tiles: changeIn(s.tiles ?? null, CODECS.tiles), scene: changeIn(s.scene ?? null, CODECS.scene) };
        }),
      },
    });
  } catch (error) {
    if (error instanceof Refusal) throw new Error(`'${name}' was not opened: ${error.message}`);
    throw error;
  }
}

// The tiles and scene a checked work stands at.
export function workNow(work) {
  const steps = work.history.steps.slice(0, work.history.position);
  return replay({ base: work.history.base, steps });
}

// The work the browser kept, or null. A session of the page before scenes
// (the tile file's history alone) becomes a work with a new scene.
export function storedWork(kept) {
  if (kept && kept.format === undefined && kept.base instanceof Uint8Array && Array.isArray(kept.steps)) {
    kept = {
      format: FORMAT, version: VERSION, fileName: kept.fileName, original: kept.base.slice(0, kept.fileLength),
      options: { cga: kept.cga, dungeon: false, mirrorRoom: false, remakeWater: true }, modified: kept.modified,
      history: { base: { tiles: kept.base, scene: newScene() }, steps: kept.steps.map((tiles) => ({ tiles, scene: null })), position: kept.position },
    };
  }
  return kept ? checkWork(kept) : null;
}
