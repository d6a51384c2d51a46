// What each tile is, from the core's attribute and water-mask tables: the
// words of the status line and the atlas that lists every tile.
import { TILE_COUNT, TILE_SIZE, tileAttributes, tilePlace } from './core.js';

// Attributes of every tile, with the water tiles that use each mask tile.
export function tileTable() {
  const tiles = Array.from({ length: TILE_COUNT }, (_, tile) => ({ tile, ...tileAttributes(tile), maskOf: [] }));
  for (const t of tiles) if (t.maskTile !== 0) tiles[t.maskTile].maskOf.push(t.tile);
  return tiles;
}

// "tile N", then what the tile is: "tile 52: grass, water, mask 208".
export function describeTile(t) {
  const words = [];
  if (t.grass) words.push('grass');
  if (t.maskTile !== 0) words.push('water', `mask ${t.maskTile}`);
  if (t.inverted) words.push('inverted');
  if (t.plainWater) words.push('plain water');
  if (t.maskOf.length > 0) words.push(`mask of ${t.maskOf.join(', ')}`);
  return words.length > 0 ? `tile ${t.tile}: ${words.join(', ')}` : `tile ${t.tile}`;
}

export function atlas(table, image) {
  return {
    image,
    tile_width: TILE_SIZE,
    tile_height: TILE_SIZE,
    tiles: table.map((t) => ({
      number: t.tile,
      ...tilePlace(t.tile),
      width: TILE_SIZE,
      height: TILE_SIZE,
      grass: t.grass,
      water: t.maskTile !== 0,
      mask_tile: t.maskTile !== 0 ? t.maskTile : null,
      inverted: t.inverted,
      mask_of: t.maskOf,
    })),
  };
}
