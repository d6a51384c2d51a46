// The palette file formats paint programs read.
import { colorCount } from './core.js';

// The colours a mode draws with: 16 in EGA, 4 in CGA.
export function modeColors(palette, cga) {
  return palette.slice(0, colorCount(cga));
}

const hex = (rgb) => rgb.map((v) => v.toString(16).padStart(2, '0')).join('');
const text = (lines) => new TextEncoder().encode(lines.join('\n') + '\n');

// MIME type and encoder of each format, by file extension; `colors` are [r, g, b].
export const PALETTE_FORMATS = {
  gpl: {
    type: 'text/plain',
    encode: (colors, name) => text(['GIMP Palette', `Name: ${name}`, 'Columns: 4', '#',
      ...colors.map((rgb, i) => `${rgb.map((v) => String(v).padStart(3)).join(' ')}\t${i}`)]),
  },
  pal: {
    type: 'text/plain',
    encode: (colors) => new TextEncoder().encode(['JASC-PAL', '0100', String(colors.length),
      ...colors.map((rgb) => rgb.join(' '))].join('\r\n') + '\r\n'),
  },
  act: {
    type: 'application/octet-stream',
    encode: (colors) => {
      const bytes = new Uint8Array(768);
      colors.forEach((rgb, i) => bytes.set(rgb, 3 * i));
      return bytes;
    },
  },
  hex: { type: 'text/plain', encode: (colors) => text(colors.map(hex)) },
};
