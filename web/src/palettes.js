// The modes' colour names and the palette file formats paint programs read.

// Colour names by palette index, as the EGA and CGA palettes name them.
const EGA_NAMES = [
  'black', 'blue', 'green', 'cyan', 'red', 'magenta', 'brown', 'light grey',
  'dark grey', 'light blue', 'light green', 'light cyan', 'light red', 'light magenta', 'yellow', 'white',
];
const CGA_NAMES = ['black', 'cyan', 'magenta', 'light grey'];

export function colourName(index, cga) {
  return (cga ? CGA_NAMES : EGA_NAMES)[index] ?? 'black';
}

// The colours a mode draws with: 16 in EGA, 4 in CGA.
export function modeColours(palette, cga) {
  return palette.slice(0, cga ? CGA_NAMES.length : EGA_NAMES.length);
}

const hex = (rgb) => rgb.map((v) => v.toString(16).padStart(2, '0')).join('');
const text = (lines) => new TextEncoder().encode(lines.join('\n') + '\n');

// File extension, MIME type and encoder of each format; `colours` are [r, g, b].
export const PALETTE_FORMATS = {
  gpl: {
    type: 'text/plain',
    encode: (colours, name) => text(['GIMP Palette', `Name: ${name}`, 'Columns: 4', '#',
      ...colours.map((rgb, i) => `${rgb.map((v) => String(v).padStart(3)).join(' ')}\t${i}`)]),
  },
  pal: {
    type: 'text/plain',
    encode: (colours) => new TextEncoder().encode(['JASC-PAL', '0100', String(colours.length),
      ...colours.map((rgb) => rgb.join(' '))].join('\r\n') + '\r\n'),
  },
  act: {
    type: 'application/octet-stream',
    encode: (colours) => {
      const bytes = new Uint8Array(768);
      colours.forEach((rgb, i) => bytes.set(rgb, 3 * i));
      return bytes;
    },
  },
  hex: { type: 'text/plain', encode: (colours) => text(colours.map(hex)) },
};
