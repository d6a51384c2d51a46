// PNG in the page, over the browser's own deflate: decoding to the file's
// stored samples as straight 8-bit RGBA (no colour management, no
// premultiplying, 16-bit samples keep their high byte), as qelega_pack reads
// them through libpng; and encoding the sheet as an indexed PNG.

const SIGNATURE = [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a];

const CRC_TABLE = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(bytes, start, end) {
  let c = 0xffffffff;
  for (let i = start; i < end; i++) c = CRC_TABLE[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

const readU32 = (b, at) => ((b[at] << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3]) >>> 0;

export function isPng(bytes) {
  return bytes.length >= 8 && SIGNATURE.every((v, i) => bytes[i] === v);
}

// Whole chunks up to IEND as [type, data]. A critical chunk with a bad CRC
// refuses the file and an ancillary one is dropped, as libpng does.
function chunks(bytes) {
  const found = [];
  for (let at = 8; at + 12 <= bytes.length;) {
    const length = readU32(bytes, at);
    if (length > bytes.length - at - 12) break;  // cut short: what image data came may be enough
    const type = String.fromCharCode(...bytes.subarray(at + 4, at + 8));
    const end = at + 8 + length;
    const critical = (bytes[at + 4] & 0x20) === 0;
    if (crc32(bytes, at + 4, end) === readU32(bytes, end)) found.push([type, bytes.subarray(at + 8, end)]);
    else if (critical) throw new Error(`bad CRC in PNG chunk ${type}`);
    if (type === 'IEND') break;
    at = end + 4;
  }
  return found;
}

const CHANNELS = { 0: 1, 2: 3, 3: 1, 4: 2, 6: 4 };
const DEPTHS = { 0: [1, 2, 4, 8, 16], 2: [8, 16], 3: [1, 2, 4, 8], 4: [8, 16], 6: [8, 16] };

// The IHDR fields; throws on a header libpng would refuse.
export function pngHeader(bytes) {
  if (!isPng(bytes)) throw new Error('not a PNG file');
  if (bytes.length < 33 || String.fromCharCode(...bytes.subarray(12, 16)) !== 'IHDR') throw new Error('PNG without IHDR');
  const [width, height] = [readU32(bytes, 16), readU32(bytes, 20)];
  const [depth, colorType, compression, filter, interlace] = bytes.subarray(24, 29);
  if (width === 0 || height === 0 || width > 0x7fffffff || height > 0x7fffffff) throw new Error('invalid PNG size');
  if (!(DEPTHS[colorType] || []).includes(depth)) throw new Error('invalid PNG colour type or bit depth');
  if (compression !== 0 || filter !== 0 || interlace > 1) throw new Error('invalid PNG header');
  return { width, height, depth, colorType, interlaced: interlace === 1 };
}

// Inflates until `wanted` bytes came out; a stream cut after that is fine,
// since every row arrived.
async function inflate(data, wanted) {
  const reader = new Blob([data]).stream().pipeThrough(new DecompressionStream('deflate')).getReader();
  const out = new Uint8Array(wanted);
  let filled = 0;
  try {
    while (filled < wanted) {
      const { done, value } = await reader.read();
      if (done) break;
      const take = Math.min(value.length, wanted - filled);
      out.set(value.subarray(0, take), filled);
      filled += take;
    }
  } catch (error) {
    if (filled < wanted) throw new Error('PNG image data is damaged or cut short');
  }
  reader.cancel().catch(() => {});
  if (filled < wanted) throw new Error('PNG image data is cut short');
  return out;
}

// Adam7 passes as [x0, y0, dx, dy]; a plain image is one pass.
const ADAM7 = [[0, 0, 8, 8], [4, 0, 8, 8], [0, 4, 4, 8], [2, 0, 4, 4], [0, 2, 2, 4], [1, 0, 2, 2], [0, 1, 1, 2]];

function passes(header) {
  const list = header.interlaced ? ADAM7 : [[0, 0, 1, 1]];
  return list.map(([x0, y0, dx, dy]) => ({
    x0, y0, dx, dy,
    width: Math.max(0, Math.ceil((header.width - x0) / dx)),
    height: Math.max(0, Math.ceil((header.height - y0) / dy)),
  })).filter((p) => p.width > 0 && p.height > 0);
}

function rowBytes(header, width) {
  return Math.ceil((width * CHANNELS[header.colorType] * header.depth) / 8);
}

function paeth(a, b, c) {
  const p = a + b - c;
  const pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Undoes the row filters in place; `stride` is the bytes of one pixel, at least 1.
function unfilter(data, at, rows, length, stride) {
  let previous = null;
  for (let y = 0; y < rows; y++, at += length + 1) {
    const type = data[at];
    const row = data.subarray(at + 1, at + 1 + length);
    if (type > 4) throw new Error('bad PNG filter type');
    for (let i = 0; i < length; i++) {
      const a = i >= stride ? row[i - stride] : 0;
      const b = previous ? previous[i] : 0;
      const c = previous && i >= stride ? previous[i - stride] : 0;
      const predictor = [0, a, b, (a + b) >> 1, paeth(a, b, c)][type];
      row[i] = (row[i] + predictor) & 0xff;
    }
    previous = row;
  }
  return at;
}

// Sample n of a row at the file's bit depth.
function sample(row, n, depth) {
  if (depth === 8) return row[n];
  if (depth === 16) return (row[2 * n] << 8) | row[2 * n + 1];
  const perByte = 8 / depth;
  return (row[Math.floor(n / perByte)] >> (8 - depth * ((n % perByte) + 1))) & ((1 << depth) - 1);
}

// One pixel's samples to RGBA, as libpng's expand, strip-16 and add-alpha give them.
function pixelWriter(header, palette, transparency) {
  const { depth, colorType } = header;
  const to8 = depth === 16 ? (v) => v >> 8 : (v) => (v * 255) / ((1 << depth) - 1);
  const key = transparency && colorType !== 3 ? transparency : null;
  return (samples, out, at) => {
    if (colorType === 3) {
      const i = samples[0];
      const known = i * 3 + 2 < palette.length;
      out[at] = known ? palette[i * 3] : 0;
      out[at + 1] = known ? palette[i * 3 + 1] : 0;
      out[at + 2] = known ? palette[i * 3 + 2] : 0;
      out[at + 3] = transparency && i < transparency.length ? transparency[i] : 255;
      return;
    }
    const grey = colorType === 0 || colorType === 4;
    const rgb = grey ? [samples[0], samples[0], samples[0]] : samples.slice(0, 3);
    const hasAlpha = colorType === 4 || colorType === 6;
    for (let c = 0; c < 3; c++) out[at + c] = to8(rgb[c]);
    const keyed = key && (grey ? samples[0] === key[0] : key.every((v, c) => samples[c] === v));
    out[at + 3] = hasAlpha ? to8(samples[grey ? 1 : 3]) : keyed ? 0 : 255;
  };
}

function transparencyOf(header, data) {
  if (!data) return null;
  if (header.colorType === 3) return data;
  const keys = header.colorType === 0 ? 1 : header.colorType === 2 ? 3 : 0;
  if (keys === 0 || data.length < keys * 2) return null;
  return Array.from({ length: keys }, (_, c) => ((data[2 * c] << 8) | data[2 * c + 1]) & ((1 << header.depth) - 1));
}

// Decodes a PNG whose IHDR passed `check`, to { width, height, rgba }.
export async function decodePng(bytes, check = () => {}) {
  const header = pngHeader(bytes);
  check(header);
  const list = chunks(bytes);
  const find = (type) => (list.find(([t]) => t === type) || [])[1];
  const idat = list.filter(([t]) => t === 'IDAT').map(([, d]) => d);
  if (idat.length === 0) throw new Error('PNG without image data');
  const palette = find('PLTE') || new Uint8Array(0);
  if (header.colorType === 3 && palette.length === 0) throw new Error('PNG palette missing');
  const transparency = transparencyOf(header, find('tRNS'));
  const layout = passes(header);
  const wanted = layout.reduce((sum, p) => sum + p.height * (rowBytes(header, p.width) + 1), 0);
  const data = await inflate(new Blob(idat), wanted);
  const channels = CHANNELS[header.colorType];
  const stride = Math.max(1, (channels * header.depth) >> 3);
  const rgba = new Uint8Array(header.width * header.height * 4);
  const write = pixelWriter(header, palette, transparency);
  const samples = new Array(channels);
  let at = 0;
  for (const p of layout) {
    const length = rowBytes(header, p.width);
    const start = at;
    at = unfilter(data, at, p.height, length, stride);
    for (let y = 0; y < p.height; y++) {
      const row = data.subarray(start + y * (length + 1) + 1);
      for (let x = 0; x < p.width; x++) {
        for (let c = 0; c < channels; c++) samples[c] = sample(row, x * channels + c, header.depth);
        write(samples, rgba, 4 * ((p.y0 + y * p.dy) * header.width + p.x0 + x * p.dx));
      }
    }
  }
  return { width: header.width, height: header.height, rgba };
}

async function deflate(bytes) {
  const stream = new Blob([bytes]).stream().pipeThrough(new CompressionStream('deflate'));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}

function chunk(type, data) {
  const out = new Uint8Array(12 + data.length);
  const view = new DataView(out.buffer);
  view.setUint32(0, data.length);
  for (let i = 0; i < 4; i++) out[4 + i] = type.charCodeAt(i);
  out.set(data, 8);
  view.setUint32(8 + data.length, crc32(out, 4, 8 + data.length));
  return out;
}

// A 4-bit indexed PNG of `indices` (one palette index a byte, 0-15) with
// `palette` ([red, green, blue] entries) in its order.
export async function encodeIndexedPng(indices, width, height, palette) {
  const ihdr = new Uint8Array(13);
  new DataView(ihdr.buffer).setUint32(0, width);
  new DataView(ihdr.buffer).setUint32(4, height);
  ihdr.set([4, 3, 0, 0, 0], 8);
  const length = Math.ceil(width / 2);
  const raw = new Uint8Array(height * (length + 1));
  for (let y = 0; y < height; y++)
    for (let x = 0; x < width; x++)
      raw[y * (length + 1) + 1 + (x >> 1)] |= (indices[y * width + x] & 15) << (x & 1 ? 0 : 4);
  const parts = [new Uint8Array(SIGNATURE), chunk('IHDR', ihdr), chunk('PLTE', new Uint8Array(palette.flat())),
    chunk('IDAT', await deflate(raw)), chunk('IEND', new Uint8Array(0))];
  return new Uint8Array(await new Blob(parts).arrayBuffer());
}
