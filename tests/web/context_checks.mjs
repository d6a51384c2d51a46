// Tiles in context, as a tile artist uses them: the seamless view, a scene
// laid out by mouse and keyboard and undone with the edits, the scene in
// Tiled's own renderer and back, and work saved to a file and opened again.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';

// Which sheet tile each scene cell shows, from the two PNGs the page saved:
// -1 for a cell that is no tile of the sheet.
const CELLS = `
import json, sys
from PIL import Image
sheet, scene = Image.open(sys.argv[1]), Image.open(sys.argv[2])
assert scene.mode == 'P' and scene.getpalette()[:48] == sheet.getpalette()[:48], 'palette'
tiles = {}
for t in reversed(range(512)):
    tiles[sheet.crop((t % 16 * 16, t // 16 * 16, t % 16 * 16 + 16, t // 16 * 16 + 16)).tobytes()] = t
w, h = scene.size[0] // 16, scene.size[1] // 16
print(json.dumps([tiles.get(scene.crop((x * 16, y * 16, x * 16 + 16, y * 16 + 16)).tobytes(), -1) for y in range(h) for x in range(w)]))
`;

export async function contextChecks(t) {
  const { page, named, upload, setChecked, downloadOf, text, file, sh, check, tool, pixel, setPixel, at, sheetClick } = t;
  const sceneCanvas = async () => {
    const canvas = await page.$('#scene');
    assert.equal((await page.accessibility.snapshot({ root: canvas })).name, 'Scene');
    return canvas;
  };
  const ctrl = async (key) => { await page.keyboard.down('Control'); await page.keyboard.press(key); await page.keyboard.up('Control'); };
  const cellPoint = async (x, y) => {
    const canvas = await sceneCanvas();
    const width = Number(await page.$eval('#scene-width', (e) => e.value));
    return at(canvas, width * 16, x * 16 + 8, y * 16 + 8);
  };
  // The scene's cells as the saved PNG shows them, beside the sheet's PNG.
  const sceneCells = async (base = 'TILES-dungeon') => {
    fs.writeFileSync(file('context-sheet.png'), await downloadOf('Download PNG', `${base}.png`));
    fs.writeFileSync(file('context-scene.png'), await downloadOf('Download scene PNG', `${base}-scene.png`));
    return JSON.parse(sh('/usr/bin/python3', ['-c', CELLS, 'context-sheet.png', 'context-scene.png']));
  };
  const tileFile = () => downloadOf('Download tile file', 'TILES.16');
  // The pixels where two EGA tile files differ, for a failure's message.
  const differences = (a, b) => {
    const found = [];
    for (let i = 0; i < a.length * 2 && found.length < 8; i++)
      if (pixel(a, i >> 8, (i >> 4) & 15, i & 15) !== pixel(b, i >> 8, (i >> 4) & 15, i & 15)) found.push(`tile ${i >> 8} (${i & 15}, ${(i >> 4) & 15})`);
    return found.join(', ');
  };
  const sameTiles = async (want, what) => {
    const got = await tileFile();
    assert.ok(got.equals(want), `${what}: ${differences(got, want)}`);
  };
  const setSize = async (name, value) => {
    await page.$eval(name === 'width' ? '#scene-width' : '#scene-height', (e, v) => {
      e.value = v;
      e.dispatchEvent(new Event('change'));
    }, String(value));
  };
  const original = fs.readFileSync(file('TILES.16'));
  const edited = Buffer.from(original);

  await check('the seamless view shows the tile 3 x 3 and edits it from any copy', async () => {
    await upload('Tile file', 'TILES.16');
    for (const [name, on] of [['Dungeon', true], ['Mirror room', false], ['Remake water', true], ['Seamless', true]])
      await setChecked(name, on);
    await page.select('#zoom', '2');
    await tool('Select');
    await sheetClick(300);
    await tool('Pencil');
    await page.keyboard.press('e');
    // From copy 1 to copy 2 of the middle row: pixels 14 and 15, then 0 to 2, of row 4.
    const seamless = await named('Seamless view');
    await page.mouse.move(...await at(seamless, 48, 30, 20));
    await page.mouse.down();
    await page.mouse.move(...await at(seamless, 48, 34, 20), { steps: 4 });
    await page.mouse.up();
    for (const x of [14, 15, 0, 1, 2]) setPixel(edited, 300, 4, x, 14);
    await sameTiles(edited, 'the stroke crosses copies, not the tile');
    // Every copy shows what the large view shows.
    const differ = await page.evaluate(() => {
      const data = (id) => { const c = document.getElementById(id); return c.getContext('2d').getImageData(0, 0, c.width, c.height); };
      const [copies, large] = [data('seamless-view'), data('tile-view')];
      const seen = (image, scale, x, y) => image.data.slice(4 * ((y * scale + 2) * image.width + x * scale + 2), 4 * ((y * scale + 2) * image.width + x * scale + 2) + 4).join();
      let count = 0;
      for (let y = 0; y < 48; y++)
        for (let x = 0; x < 48; x++) if (seen(copies, 6, x, y) !== seen(large, 16, x % 16, y % 16)) count++;
      return count;
    });
    assert.equal(differ, 0);
  });

  const expected = [37, 37, 37, 37, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 52];
  await check('a scene lays tiles by mouse and keyboard, undoes with the edits and survives a reload', async () => {
    await setSize('width', 5);
    await setSize('height', 3);
    await tool('Select');
    await sheetClick(37);
    await page.mouse.click(...await cellPoint(0, 0));
    await page.mouse.move(...await cellPoint(1, 0));
    await page.mouse.down();
    await page.mouse.move(...await cellPoint(3, 0), { steps: 3 });
    await page.mouse.up();
    await sheetClick(52);
    await page.keyboard.down('Alt');
    await page.mouse.click(...await cellPoint(2, 0));
    await page.keyboard.up('Alt');
    assert.equal(await text('[role=status]'), 'tile 37: grass', 'Alt+click picks up the tile');
    // An edit between placements: tile 37 shows it in the scene at once.
    await tool('Pencil');
    await page.keyboard.press('f');
    await sheetClick(37, 3, 1);
    setPixel(edited, 37, 1, 3, 15);
    await tool('Select');
    await sheetClick(52);
    await (await sceneCanvas()).focus();
    for (const key of ['ArrowRight', 'ArrowRight', 'ArrowRight', 'ArrowRight', 'ArrowDown', 'ArrowDown', 'Enter']) await page.keyboard.press(key);
    assert.deepEqual(await sceneCells(), expected);
    await sameTiles(edited, 'edited');

    await ctrl('z');
    await ctrl('z');
    const withoutEdit = Buffer.from(edited);
    setPixel(withoutEdit, 37, 1, 3, pixel(original, 37, 1, 3));
    assert.deepEqual(await sceneCells(), [...expected.slice(0, 14), 0], 'the placement undone');
    await sameTiles(withoutEdit, 'the edit undone');
    await ctrl('y');
    await sameTiles(edited, 'the edit redone');
    await page.waitForFunction(() => document.getElementById('editor').dataset.keptSteps === '6 of 7');
    await page.reload();
    await page.waitForFunction(() => /^restored/.test(document.querySelector('[role=status]')?.textContent), { timeout: 10000 });
    assert.deepEqual(await sceneCells(), [...expected.slice(0, 14), 0], 'the scene after a reload');
    await ctrl('y');
    assert.deepEqual(await sceneCells(), expected, 'the history after a reload');
    await sameTiles(edited, 'edited');
  });

  await check('the scene opens in Tiled as the page shows it, and comes back', async () => {
    const zip = await downloadOf('Download scene for Tiled', 'TILES-dungeon-scene.zip');
    fs.writeFileSync(file('scene.zip'), zip);
    const tiled = file('tiled');
    fs.rmSync(tiled, { recursive: true, force: true });
    sh('/usr/bin/python3', ['-c', 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); print(sorted(z.namelist())); z.extractall(sys.argv[2])',
      'scene.zip', tiled]);
    assert.deepEqual(fs.readdirSync(tiled).sort(), ['scene.tmj', 'tiles.png', 'tiles.tsj']);
    await sceneCells();
    if (fs.existsSync('/usr/bin/tmxrasterizer') || t.required) {
      t.run('/usr/bin/tmxrasterizer', ['--no-smoothing', path.join(tiled, 'scene.tmj'), file('tiled.png')], { QT_QPA_PLATFORM: 'offscreen' });
      sh('/usr/bin/python3', ['-c', `from PIL import Image
a, b = Image.open('context-scene.png').convert('RGBA'), Image.open('tiled.png').convert('RGBA')
assert a.size == b.size and a.tobytes() == b.tobytes(), 'Tiled draws another picture'`]);
    } else {
      console.log('tmxrasterizer missing: the map is not rendered by Tiled');
    }
    await setSize('width', 2);
    await upload('Open scene', 'scene.zip');
    assert.equal(await text('[role=status]'), "opened the scene of 'scene.zip', 5 x 3 tiles");
    assert.deepEqual(await sceneCells(), expected);

    const map = JSON.parse(fs.readFileSync(path.join(tiled, 'scene.tmj'), 'utf8'));
    map.layers[0].data[0] = 0x80000000 | 5;  // flipped
    map.layers[0].data[1] = 600;  // past the tileset
    map.layers.push({ ...map.layers[0], id: 2, name: 'more' });
    fs.writeFileSync(file('extra.tmj'), JSON.stringify(map));
    await upload('Open scene', 'extra.tmj');
    assert.equal(await text('[role=status]'), "opened the scene of 'extra.tmj', 5 x 3 tiles; left out 2 cells (1 flipped) and 1 other layer");
    assert.deepEqual(await sceneCells(), [0, 0, ...expected.slice(2)]);
    // Tiled's own compressed layer data reads the same.
    const packed = JSON.parse(fs.readFileSync(path.join(tiled, 'scene.tmj'), 'utf8'));
    const gids = Buffer.alloc(packed.layers[0].data.length * 4);
    packed.layers[0].data.forEach((gid, i) => gids.writeUInt32LE(gid, 4 * i));
    Object.assign(packed.layers[0], { encoding: 'base64', compression: 'zlib', data: zlib.deflateSync(gids).toString('base64') });
    fs.writeFileSync(file('zlib.tmj'), JSON.stringify(packed));
    await upload('Open scene', 'zlib.tmj');
    assert.deepEqual(await sceneCells(), expected, 'base64 and zlib');
    await upload('Open scene', 'extra.tmj');
    fs.writeFileSync(file('cut.zip'), zip.subarray(0, 200));
    await upload('Open scene', 'cut.zip');
    assert.match(await text('[role=alert]'), /^'cut.zip' was not opened: /);
    assert.deepEqual(await sceneCells(), [0, 0, ...expected.slice(2)], 'a refused map changes nothing');
  });

  await check('work saved to a file opens whole after a discard', async () => {
    const scene = await sceneCells();
    const work = await downloadOf('Save work', 'TILES.qelega.json');
    fs.writeFileSync(file('TILES.qelega.json'), work);
    await (await named('Discard edits')).click();
    assert.ok((await tileFile()).equals(original), 'discarded');
    assert.deepEqual(await sceneCells(), new Array(20 * 12).fill(0), 'a new scene');
    const damaged = JSON.parse(work.toString());
    const before = Buffer.from(damaged.history.steps[0].tiles.before, 'base64');
    before[0] ^= 1;
    damaged.history.steps[0].tiles.before = before.toString('base64');
    for (const [name, bytes, alert] of [['foreign.qelega.json', '{"hello": 1}', /not a work file of qelega_shapes/],
      ['damaged.qelega.json', JSON.stringify(damaged), /step 1 does not fit the work/]]) {
      fs.writeFileSync(file(name), bytes);
      await upload('Open work', name);
      assert.match(await text('[role=alert]'), new RegExp(`^'${name}' was not opened: ${alert.source}`));
    }
    assert.ok((await tileFile()).equals(original), 'a refused work changes nothing');
    await upload('Open work', 'TILES.qelega.json');
    assert.match(await text('[role=status]'), /^opened the work 'TILES.qelega.json' of 'TILES.16'/);
    assert.ok((await tileFile()).equals(edited), 'the tiles');
    assert.deepEqual(await sceneCells(), scene, 'the scene');
    await ctrl('z');
    assert.deepEqual(await sceneCells(), expected, 'the history');
  });
}

// A pencil event on a tile a whole 64 x 64 scene shows, so the scene is
// redrawn after each edit: the time of one event, sorted.
export async function sceneRedrawTimes(page) {
  await page.select('#zoom', '2');
  await page.$eval('#scene-width', (e) => { e.value = '64'; e.dispatchEvent(new Event('change')); });
  await page.$eval('#scene-height', (e) => { e.value = '64'; e.dispatchEvent(new Event('change')); });
  return page.evaluate(() => {
    const sheet = document.getElementById('sheet');
    const box = sheet.getBoundingClientRect();
    const scale = box.width / 256;
    const at = (type, x) => new PointerEvent(type, { clientX: box.left + (x + 0.5) * scale, clientY: box.top + 8 * scale, pointerId: 1, bubbles: true });
    document.querySelector('input[name=tool][value=pencil]').click();
    const times = [];
    sheet.dispatchEvent(at('pointerdown', 0));
    for (let i = 1; i <= 40; i++) {
      const start = performance.now();
      sheet.dispatchEvent(at('pointermove', i % 16));
      times.push(performance.now() - start);
    }
    sheet.dispatchEvent(at('pointerup', 0));
    return times.sort((a, b) => a - b);
  });
}

// A picture for people: the sample's grass and water laid out on a scene,
// with the seamless view of a water tile, in a browser of its own.
export async function sceneScreenshot(browser, pageUrl, path) {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  await page.setViewport({ width: 1400, height: 1000 });
  await page.goto(pageUrl);
  await page.waitForFunction(() => performance.getEntriesByName('sheet-drawn').length > 0);
  await page.select('#zoom', '3');
  await page.$eval('#seamless', (e) => e.click());
  for (const [id, value] of [['#scene-width', '14'], ['#scene-height', '5']])
    await page.$eval(id, (e, v) => { e.value = v; e.dispatchEvent(new Event('change')); }, value);
  const click = async (selector, x, y, side) => {
    const element = await page.$(selector);
    const scale = (await element.boundingBox()).width / side;
    await element.evaluate((e, offset) => window.scrollBy(0, e.getBoundingClientRect().top + offset - 400), (y + 0.5) * scale);
    const box = await element.boundingBox();
    await page.mouse.click(box.x + (x + 0.5) * scale, box.y + (y + 0.5) * scale);
  };
  // Grass, then water coming in from the right and a pond.
  const layout = [[48, 0, 0, 13, 4], [99, 9, 0, 9, 4], [3, 10, 0, 13, 4], [53, 3, 2, 3, 2], [52, 4, 2, 5, 2]];
  for (const [tile, x0, y0, x1, y1] of layout) {
    await click('#sheet', (tile % 16) * 16 + 8, Math.floor(tile / 16) * 16 + 8, 256);
    for (let y = y0; y <= y1; y++) for (let x = x0; x <= x1; x++) await click('#scene', x * 16 + 8, y * 16 + 8, 14 * 16);
  }
  await click('#sheet', 4 * 16 + 8, 3 * 16 + 8, 256);
  await (await page.$('#scene')).evaluate((e) => e.scrollIntoView({ block: 'end' }));
  await page.screenshot({ path });
  await context.close();
}
