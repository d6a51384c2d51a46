// PNG in the page, through fast-png: the sheet is read as the file stores
// it, expanded to straight 8-bit RGBA as libpng expands it for qelega_pack
// (palette and tRNS to RGBA, low bit depths scaled, 16-bit samples by their
// high byte, no gamma or colour profile applied); the core then lays it on
// black by the rule the two share. Sheets are written as 4-bit indexed PNG.
// fast-png loads on first use, with the other codecs.
const codecs = () => import('./codecs.js');

// The header's fields, read before any pixel is decoded: IHDR is the first
// chunk, at a fixed place.
export function pngHeader(bytes) {
  if (bytes.length < 29) throw new Error('PNG cut short');
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  return { width: view.getUint32(16), height: view.getUint32(20), depth: bytes[24], interlaced: bytes[28] === 1 };
}

// Sample n of a row of samples packed `depth` bits each, the first in the highest bits.
function packedSample(data, rowStart, n, depth) {
  const perByte = 8 / depth;
  return (data[rowStart + Math.floor(n / perByte)] >> (8 - depth * ((n % perByte) + 1))) & ((1 << depth) - 1);
}

// A reader of sample c of pixel (x, y), at the file's depth.
function sampleReader({ width, data, depth, channels }) {
  if (depth >= 8) return (x, y, c) => data[(y * width + x) * channels + c];
  const rowBytes = Math.ceil((width * channels * depth) / 8);
  return (x, y, c) => packedSample(data, y * rowBytes, x * channels + c, depth);
}

// One pixel's samples to straight 8-bit RGBA.
function pixelWriter(png) {
  const { depth, channels, palette } = png;
  const to8 = depth === 16 ? (v) => v >> 8 : (v) => (v * 255) / ((1 << depth) - 1);
  if (palette) {
    // An index past the palette is black and opaque, as libpng leaves it.
    return (samples) => {
      const entry = palette[samples[0]] ?? [0, 0, 0];
      return [entry[0], entry[1], entry[2], entry[3] ?? 255];
    };
  }
  const grey = channels <= 2;
  const colors = grey ? 1 : 3;
  const key = png.transparency?.length >= colors ? png.transparency : null;
  return (samples) => {
    const rgb = grey ? [samples[0], samples[0], samples[0]] : samples.slice(0, 3);
    const keyed = key !== null && samples.slice(0, colors).every((v, c) => v === (key[c] & ((1 << depth) - 1)));
    const alpha = channels === 2 || channels === 4 ? to8(samples[colors]) : keyed ? 0 : 255;
    return [...rgb.map(to8), alpha];
  };
}

// The picture as straight 8-bit RGBA, top-down.
export async function decodeRgba(bytes) {
  const header = pngHeader(bytes);
  // fast-png reads interlaced pictures of 1, 2 and 4 bits a sample wrongly.
  if (header.interlaced && header.depth < 8)
    throw new Error('an interlaced PNG of fewer than 8 bits a sample is not read here; save it without interlacing');
  const { decodePng } = await codecs();
  const png = decodePng(bytes, { checkCrc: true });
  const sample = sampleReader(png);
  const write = pixelWriter(png);
  const rgba = new Uint8Array(png.width * png.height * 4);
  const samples = new Array(png.channels);
  for (let y = 0, at = 0; y < png.height; y++)
    for (let x = 0; x < png.width; x++, at += 4) {
      for (let c = 0; c < png.channels; c++) samples[c] = sample(x, y, c);
      rgba.set(write(samples), at);
    }
  return rgba;
}

// A 4-bit indexed PNG of `indices` (one palette index a byte, 0-15) with
// `palette` ([red, green, blue] entries) in its order. The indices are read
// before anything is awaited, so they may be a view that the next call of the
// core changes.
export async function encodeIndexedPng(indices, width, height, palette) {
  const rowBytes = Math.ceil(width / 2);
  const data = new Uint8Array(rowBytes * height);
  for (let y = 0; y < height; y++)
    for (let x = 0; x < width; x++) data[y * rowBytes + (x >> 1)] |= (indices[y * width + x] & 15) << (x & 1 ? 0 : 4);
  const { encodePng } = await codecs();
  return encodePng({ width, height, data, depth: 4, channels: 1, palette });
}
