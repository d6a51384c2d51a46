// The page as a user meets it, in headless Chromium: load our own tile files,
// toggle the options, download, pack edited sheets back, feed it bad files;
// every byte it saves must be what qelega_shapes and qelega_pack write.
// node browser_test.mjs SITE SHAPES PACK WORKDIR SCREENSHOT PATCH
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { createRequire } from 'node:module';
import zlib from 'node:zlib';
import { contextChecks, sceneRedrawTimes, sceneScreenshot } from './context_checks.mjs';
import { patchChecks } from './patch_checks.mjs';

const [site, shapes, pack, work, screenshot, patcher] = process.argv.slice(2);
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
const SKIP = 77;
const required = process.env.QELEGA_REQUIRE_TOOLS === '1';
const missing = [chromium, '/usr/bin/python3', '/usr/bin/convert-im6.q16'].filter((p) => !fs.existsSync(p));
if (missing.length > 0) {
  console.log(`browser test skipped: missing ${missing.join(', ')}`);
  process.exit(required ? 1 : SKIP);
}
if (!fs.existsSync(path.join(site, 'index.html'))) {
  console.log(`browser test skipped: no page built in ${site}`);
  process.exit(required ? 1 : SKIP);
}
const puppeteer = createRequire(new URL('../../web/package.json', import.meta.url))('puppeteer-core');

fs.rmSync(work, { recursive: true, force: true });
const downloads = path.join(work, 'downloads');
fs.mkdirSync(downloads, { recursive: true });
// The page is one file, driven from a folder that holds nothing else.
assert.deepEqual(fs.readdirSync(site), ['index.html'], 'the build leaves one file');
const pageDir = path.join(work, 'page');
fs.mkdirSync(pageDir);
fs.copyFileSync(path.join(site, 'index.html'), path.join(pageDir, 'index.html'));
const pageBytes = fs.statSync(path.join(pageDir, 'index.html')).size;
const file = (name) => path.join(work, name);
const sh = (program, args) => execFileSync(program, args, { cwd: work, input: '', encoding: 'latin1' });

// Our own tile files: seeded noise, so every pixel value, water and grass tile varies.
function noise(length, seed) {
  const bytes = new Uint8Array(length);
  for (let i = 0, x = seed; i < length; i++) bytes[i] = (x = (x * 1103515245 + 12345) >>> 0) >>> 24;
  return bytes;
}
fs.writeFileSync(file('TILES.16'), noise(65536, 1));
fs.writeFileSync(file('TILES.4'), noise(32768, 2));

// Pixel (y, x) of an EGA tile in a tile file's bytes.
const pixel = (b, tile, y, x) => (b[(tile * 256 + y * 16 + x) >> 1] >> (x & 1 ? 0 : 4)) & 15;
const setPixel = (b, tile, y, x, v) => {
  const at = (tile * 256 + y * 16 + x) >> 1;
  b[at] = x & 1 ? (b[at] & 0xf0) | v : (b[at] & 0x0f) | (v << 4);
};

function shapesOutput(tiles, flags) {
  const out = `shapes-${path.basename(tiles)}${flags.join('')}.bmp`;
  fs.rmSync(file(out), { force: true });
  sh(shapes, [...flags, tiles, out]);
  return fs.readFileSync(file(out));
}

function packOutput(sheet, cga) {
  const out = `packed-${sheet}${cga ? '.4' : '.16'}`;
  fs.rmSync(file(out), { force: true });
  const printed = sh(pack, [...(cga ? ['--cga'] : []), sheet, out]);
  return { bytes: fs.readFileSync(file(out)), changed: Number((printed.match(/^changed (\d+)/) || [0, 0])[1]) };
}

const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'],
});
const failures = [];
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1400, height: 1000 });
  const problems = [];
  const pageUrl = new URL(`file://${path.resolve(pageDir)}/index.html`).href;
  page.on('console', (m) => { if (m.type() === 'error' || m.type() === 'warn') problems.push(`console: ${m.text()}`); });
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  // Every question the page asks is answered yes, and remembered.
  const dialogs = [];
  page.on('dialog', (d) => { dialogs.push(d.type()); d.accept(); });
  page.on('request', (r) => {
    const url = r.url();
    if (url !== pageUrl && !url.startsWith('blob:') && !url.startsWith('data:')) problems.push(`request: ${url}`);
  });
  const cdp = await page.createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });

  // With the network off: the page needs nothing but itself.
  await page.setOfflineMode(true);
  await page.goto(pageUrl);
  await page.waitForFunction(() => performance.getEntriesByName('sheet-drawn').length > 0, { timeout: 10000 });
  const shownAfter = await page.evaluate(() => performance.getEntriesByName('sheet-drawn')[0].startTime);
  await page.screenshot({ path: screenshot });

  const named = async (name) => {
    const found = await page.$(`::-p-aria(${name})`);
    assert.ok(found, `no control named ${name}`);
    return found;
  };
  // Chromium's accessibility query misses file inputs; find them by label, then check their name.
  const fileInput = async (name) => {
    const input = await page.$(`xpath/.//label[starts-with(normalize-space(.), "${name}")]//input[@type="file"]`);
    assert.equal((await page.accessibility.snapshot({ root: input, interestingOnly: false })).name, name);
    return input;
  };
  const text = (selector) => page.$eval(selector, (e) => e.textContent);
  async function setChecked(name, on) {
    const box = await named(name);
    if ((await box.evaluate((e) => e.checked)) !== on) await box.click();
  }
  async function downloadOf(button, name) {
    const target = path.join(downloads, name);
    fs.rmSync(target, { force: true });
    await (await named(button)).click();
    for (let i = 0; i < 200 && !fs.existsSync(target); i++) await new Promise((r) => setTimeout(r, 25));
    assert.ok(fs.existsSync(target), `no download ${name}`);
    return fs.readFileSync(target);
  }
  // Waits for the page's answer: a status line or an alert.
  async function upload(input, name) {
    await page.$$eval('[role=status], [role=alert]', (all) => all.forEach((e) => { e.textContent = ''; }));
    await (await fileInput(input)).uploadFile(file(name));
    await page.waitForFunction(() => document.querySelector('[role=status]').textContent
      + document.querySelector('[role=alert]').textContent !== '', { timeout: 10000 });
  }
  const sample = await downloadOf('Download tile file', 'TILES.16');
  const check = async (what, body) => {
    try { await body(); } catch (error) { failures.push(`${what}: ${error.message}`); }
  };
  // A tool of the editor, chosen from the keyboard.
  const tool = async (name) => { await (await named(name)).focus(); await page.keyboard.press('Space'); };
  const run = (program, args, env) => execFileSync(program, args, { cwd: work, input: '', env: { ...process.env, ...env }, stdio: 'pipe' });
  // The point at the centre of pixel (x, y) of an element drawn `side`
  // pixels wide, scrolled into the middle of the window.
  const at = async (element, side, x, y) => {
    const scale = (await element.boundingBox()).width / side;
    await element.evaluate((e, offset) => window.scrollBy(0, e.getBoundingClientRect().top + offset - 400), (y + 0.5) * scale);
    const box = await element.boundingBox();
    return [box.x + (x + 0.5) * scale, box.y + (y + 0.5) * scale];
  };
  const sheetClick = async (tile, x = 8, y = 8) => page.mouse.click(...await at(await named('Tile sheet'), 256,
    (tile % 16) * 16 + x, Math.floor(tile / 16) * 16 + y));

  await check('options give the bytes of qelega_shapes', async () => {
    const runs = [['TILES.16', false, []], ['TILES.16', true, ['--cga']], ['TILES.4', true, ['--cga']]];
    const combos = [[], ['--no-remake-water'], ['--dungeon'], ['--dungeon', '--mirror-room']];
    for (const [tiles, cga, mode] of runs) {
      await upload('Tile file', tiles);
      assert.equal(await (await named('CGA')).evaluate((e) => e.checked), tiles === 'TILES.4', 'CGA follows the size');
      await setChecked('CGA', cga);
      for (const flags of combos) {
        await setChecked('Dungeon', flags.includes('--dungeon'));
        await setChecked('Mirror room', flags.includes('--mirror-room'));
        await setChecked('Remake water', !flags.includes('--no-remake-water'));
        const name = ['TILES', ...[...mode, ...flags].map((f) => f.slice(2))].join('-') + '.bmp';
        assert.ok((await downloadOf('Download BMP', name)).equals(shapesOutput(tiles, [...mode, ...flags])), name);
      }
    }
    await setChecked('CGA', false);
    assert.match(await text('[role=alert]'), /32768 bytes; EGA tiles need 65536/);
    assert.equal(await (await named('CGA')).evaluate((e) => e.checked), true);
  });

  await check('PNG, palette and atlas downloads', async () => {
    await upload('Tile file', 'TILES.16');
    await setChecked('Dungeon', true);
    await setChecked('Mirror room', false);
    await setChecked('Remake water', true);
    fs.writeFileSync(file('sheet.png'), await downloadOf('Download PNG', 'TILES-dungeon.png'));
    fs.writeFileSync(file('sheet.bmp'), shapesOutput('TILES.16', ['--dungeon']));
    sh('/usr/bin/python3', ['-c', `from PIL import Image
png, bmp = Image.open('sheet.png'), Image.open('sheet.bmp')
assert png.mode == 'P' and png.size == (256, 512), png.mode
assert list(png.getdata()) == list(bmp.getdata()), 'pixels'
assert png.getpalette()[:48] == bmp.getpalette()[:48], 'palette'`]);
    const formats = { gpl: 'GIMP .gpl', pal: 'JASC .pal', act: 'Adobe .act', hex: '.hex' };
    const saved = {};
    for (const [ext, label] of Object.entries(formats)) {
      await page.select('#palette-format', ext);
      saved[ext] = await downloadOf('Download palette', `ega.${ext}`);
    }
    const bmp = fs.readFileSync(file('sheet.bmp'));
    const rgb = Array.from({ length: 16 }, (_, i) => [bmp[56 + 4 * i], bmp[55 + 4 * i], bmp[54 + 4 * i]]);
    assert.equal(saved.act.length, 768);
    assert.deepEqual([...saved.act.subarray(0, 48)], rgb.flat());
    assert.deepEqual(saved.hex.toString().trim().split('\n'), rgb.map((c) => Buffer.from(c).toString('hex')));
    assert.match(saved.gpl.toString(), /^GIMP Palette\n/);
    assert.equal(saved.pal.toString().split('\r\n')[2], '16');
    const atlas = JSON.parse(await downloadOf('Download atlas', 'TILES-dungeon.json'));
    assert.equal(atlas.tiles.length, 512);
    assert.deepEqual(atlas.tiles[228], { number: 228, x: 64, y: 224, width: 16, height: 16, grass: false, water: true,
      mask_tile: 208, inverted: true, mask_of: [] });
  });

  await check('the status names what a tile is', async () => {
    const box = await (await named('Tile sheet')).boundingBox();
    const at = async (tile, x = 8, y = 8) => {
      await page.mouse.move(box.x + ((tile % 16) * 16 + x) * box.width / 256, box.y + (Math.floor(tile / 16) * 16 + y) * box.height / 512);
      return text('[role=status]');
    };
    assert.equal(await at(30), 'tile 30: grass');
    assert.equal(await at(52), 'tile 52: grass, water, mask 208');
    assert.equal(await at(228), 'tile 228: water, mask 208, inverted');
    assert.equal(await at(3), 'tile 3: plain water');
    assert.equal(await at(208), 'tile 208: mask of 52, 228');
    assert.equal(await at(300), 'tile 300');
    const [x, y] = [12 * 16 + 3, 18 * 16 + 12];  // pixel (3, 12) of tile 300
    await page.mouse.click(box.x + (x + 0.5) * box.width / 256, box.y + (y + 0.5) * box.height / 512);
    const index = fs.readFileSync(file('sheet.bmp'))[118 + (511 - y) * 128 + (x >> 1)] & 15;
    assert.match(await text('#pixel'), new RegExp(`^x 3, y 12: colour ${index} [a-z ]+$`));
  });

  await check('edited sheets pack as qelega_pack packs them', async () => {
    fs.writeFileSync(file('plain.bmp'), shapesOutput('TILES.16', ['--no-remake-water']));
    fs.writeFileSync(file('plain4.bmp'), shapesOutput('TILES.4', ['--cga', '--no-remake-water']));
    sh('/usr/bin/python3', ['-c', `from PIL import Image, PngImagePlugin
im = Image.open('plain.bmp').convert('RGBA')
px = im.load()
for y in range(512):
    for x in range(0, 256, 7):
        r, g, b, a = px[x, y]
        px[x, y] = (r, g ^ 3, b, (x * 5 + y) % 256)
info = PngImagePlugin.PngInfo()
info.add(b'gAMA', (100000).to_bytes(4, 'big'))
im.save('alpha.png', pnginfo=info)
im.convert('LA').save('grey.png')`]);
    sh('/usr/bin/convert-im6.q16', ['plain.bmp', '-evaluate', 'add', '2000', '-interlace', 'PNG', 'PNG48:rgb16.png']);
    sh('/usr/bin/convert-im6.q16', ['plain4.bmp', 'PNG8:cga.png']);
    const sheets = [['plain.bmp', false], ['alpha.png', false], ['grey.png', false], ['rgb16.png', false],
      ['cga.png', true], ['plain4.bmp', true]];
    for (const [sheet, cga] of sheets) {
      await upload('Tile file', cga ? 'TILES.4' : 'TILES.16');
      await upload('Edited sheet', sheet);
      const expected = packOutput(sheet, cga);
      const status = await text('[role=status]');
      assert.equal(status, expected.changed ? `changed ${expected.changed} pixels to the nearest palette color`
        : `packed '${sheet}' into ${cga ? 'TILES.4' : 'TILES.16'}`, sheet);
      assert.ok((await downloadOf('Download tile file', cga ? 'TILES.4' : 'TILES.16')).equals(expected.bytes), sheet);
    }
  });

  await check('bad files give an alert and the page goes on', async () => {
    const png = fs.readFileSync(file('alpha.png'));
    const huge = Buffer.from(png);
    huge.writeUInt32BE(30000, 16);
    huge.writeUInt32BE(30000, 20);
    huge.writeUInt32BE(zlib.crc32(huge.subarray(12, 29)), 29);
    const hostile = Buffer.from(fs.readFileSync(file('plain.bmp')));
    hostile.writeUInt32LE(0x7fffffff, 18);
    hostile.writeInt32LE(-0x7fffffff, 22);
    sh('/usr/bin/convert-im6.q16', ['plain.bmp', '-colorspace', 'gray', '-depth', '4', '-interlace', 'PNG', 'PNG:grey4i.png']);
    const bad = [['Tile file', 'empty', Buffer.alloc(0), /'empty' is 0 bytes/],
      ['Tile file', 'noise', noise(1000, 3), /'noise' is 1000 bytes/],
      ['Edited sheet', 'noise.bmp', noise(5000, 4), /not a bmp or png file 'noise.bmp'/],
      ['Edited sheet', 'cut.png', png.subarray(0, png.length >> 1), /could not read the sheet 'cut.png'/],
      ['Edited sheet', 'hostile.bmp', hostile, /could not read the sheet 'hostile.bmp': error: /],
      ['Edited sheet', 'huge.png', huge, /sheet is 30000 x 30000, wanted 256 x 512 'huge.png'/],
      ['Edited sheet', 'grey4i.png', fs.readFileSync(file('grey4i.png')), /could not read the sheet 'grey4i.png': an interlaced PNG of fewer than 8 bits/]];
    await upload('Tile file', 'TILES.16');
    for (const [input, name, bytes, alert] of bad) {
      fs.writeFileSync(file(name), bytes);
      await upload(input, name);
      assert.match(await text('[role=alert]'), alert, name);
    }
    assert.ok((await downloadOf('Download tile file', 'TILES.16')).equals(fs.readFileSync(file('TILES.16'))), 'tiles kept');
    await upload('Tile file', 'TILES.4');
    assert.equal(await text('[role=alert]'), '');
  });

  await check('edits change the stored tiles, undo and survive a reload', async () => {
    // The sample, but tile 20 is black with a white bar at x 8, so a fill stops at the bar.
    const original = Buffer.from(sample);
    original.fill(0, 20 * 128, 21 * 128);
    for (let y = 0; y < 16; y++) original[20 * 128 + y * 8 + 4] = 0xf0;
    fs.writeFileSync(file('EDIT.16'), original);
    const expected = Buffer.from(original);
    const states = [Buffer.from(expected)];
    const step = () => states.push(Buffer.from(expected));
    // Controls are used from the keyboard: focus one by its name, press Enter or Space.
    const key = async (name, k = 'Enter') => { await (await named(name)).focus(); await page.keyboard.press(k); };
    await upload('Tile file', 'EDIT.16');
    for (const [name, on] of [['Dungeon', false], ['Mirror room', false], ['Remake water', true]]) await setChecked(name, on);
    await key('Pencil', 'Space');
    await page.keyboard.press('c');
    for (const [zoom, tile, y] of [['2', 40, 5], ['8', 17, 9]]) {
      await page.select('#zoom', zoom);
      const box = await (await named('Tile sheet')).boundingBox();
      const scale = box.width / 256;
      const to = (x) => [box.x + ((tile % 16) * 16 + x + 0.5) * scale, box.y + (Math.floor(tile / 16) * 16 + y + 0.5) * scale];
      await page.mouse.move(...to(2));
      await page.mouse.down();
      await page.mouse.move(...to(13), { steps: 3 });
      await page.mouse.up();
      for (let x = 2; x <= 13; x++) setPixel(expected, tile, y, x, 12);
      step();
    }
    await page.select('#zoom', '2');
    const press = async (tile, x = 1, y = 1) => {
      const box = await (await named('Tile sheet')).boundingBox();
      await page.mouse.click(box.x + ((tile % 16) * 16 + x + 0.5) * 2, box.y + (Math.floor(tile / 16) * 16 + y + 0.5) * 2);
    };
    await key('Picker', 'Space');
    await press(30, 5, 7);
    assert.equal(await page.$eval('input[name=color]:checked', (e) => Number(e.value)), pixel(expected, 30, 7, 5), 'picked');
    await key('Fill', 'Space');
    await page.keyboard.press('9');
    await press(20);
    for (let y = 0; y < 16; y++) for (let x = 0; x < 8; x++) setPixel(expected, 20, y, x, 9);
    step();
    await key('Select', 'Space');
    const flipped = (tile, horizontally) => {
      const before = Buffer.from(expected);
      for (let y = 0; y < 16; y++) for (let x = 0; x < 16; x++)
        setPixel(expected, tile, y, x, pixel(before, tile, horizontally ? y : 15 - y, horizontally ? 15 - x : x));
      step();
    };
    await press(21);
    await key('Flip horizontally');
    flipped(21, true);
    await key('Flip vertically');
    flipped(21, false);
    await press(23);
    await key('Copy tile');
    await press(24);
    await key('Paste tile');
    expected.copy(expected, 24 * 128, 23 * 128, 24 * 128);
    step();
    await press(25);
    await key('Swap tiles');
    await press(26);
    const tile25 = Buffer.from(expected.subarray(25 * 128, 26 * 128));
    expected.copy(expected, 25 * 128, 26 * 128, 27 * 128);
    tile25.copy(expected, 26 * 128);
    step();
    assert.ok((await downloadOf('Download tile file', 'TILES.16')).equals(expected), 'edited bytes');
    fs.writeFileSync(file('EDITED.16'), expected);
    assert.ok((await downloadOf('Download BMP', 'EDIT.bmp')).equals(shapesOutput('EDITED.16', [])), 'exported as shown');

    await (await named('Tile sheet')).focus();
    for (let i = 0; i < states.length; i++) await page.keyboard.down('Control').then(() => page.keyboard.press('z')).then(() => page.keyboard.up('Control'));
    assert.ok((await downloadOf('Download tile file', 'TILES.16')).equals(original), 'undo all gives the loaded file');
    for (let i = 0; i < 3; i++) await key('Redo');
    await page.keyboard.down('Control');
    await page.keyboard.press('y');
    await page.keyboard.up('Control');
    await page.waitForFunction(() => document.getElementById('editor').dataset.keptSteps === '4 of 7');
    dialogs.length = 0;
    await page.reload();
    await page.waitForFunction(() => /^(restored|showing)/.test(document.querySelector('[role=status]')?.textContent), { timeout: 10000 });
    assert.deepEqual(dialogs, ['beforeunload'], 'asks before dropping edits');
    assert.match(await text('[role=status]'), /^restored your edits of 'EDIT.16' \(4 of 7 steps\)/);
    assert.ok((await downloadOf('Download tile file', 'TILES.16')).equals(states[4]), 'restored edits');
    await key('Undo');
    assert.ok((await downloadOf('Download tile file', 'TILES.16')).equals(states[3]), 'restored history');
    await page.select('#zoom', '2');
    await press(52);
    await page.screenshot({ path: screenshot.replace(/\.png$/, '-editor.png') });
    await key('Discard edits');
    assert.ok((await downloadOf('Download tile file', 'TILES.16')).equals(original), 'discarded');
  });

  const helpers = { page, named, upload, setChecked, downloadOf, text, file, sh, check, tool, pixel, setPixel, run, required, at, sheetClick };
  await contextChecks(helpers);
  await patchChecks({ ...helpers, patcher });

  await check('the page works from a static web server too, asking for nothing but itself', async () => {
    const asked = [];
    const server = http.createServer((request, response) => {
      asked.push(request.url);
      const name = path.join(pageDir, path.basename(new URL(request.url, 'http://x').pathname) || 'index.html');
      fs.readFile(name, (error, data) => { response.writeHead(error ? 404 : 200); response.end(data); });
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    const served = await browser.newPage();
    try {
      served.on('pageerror', (e) => problems.push(`served page error: ${e.message}`));
      served.on('console', (m) => { if (m.type() === 'error') problems.push(`served console: ${m.text()}`); });
      await served.goto(`http://127.0.0.1:${server.address().port}/`);
      await served.waitForFunction(() => performance.getEntriesByName('sheet-drawn').length > 0, { timeout: 10000 });
      assert.deepEqual(asked, ['/']);
    } finally {
      await served.close();
      server.close();
    }
  });

  await check('the page says which version it is, as the programs do', async () => {
    assert.equal(`qelega_shapes ${await text('h1 .version')}`, sh(shapes, ['--version']).trim());
  });

  await check('a strict Content-Security-Policy allows only what is inside the file', async () => {
    const policy = await page.$eval('meta[http-equiv=Content-Security-Policy]', (e) => e.content);
    assert.match(policy, /^default-src 'none'; script-src 'sha256-[^']+' 'wasm-unsafe-eval'; style-src 'sha256-[^']+';/);
  });

  await check('a picture of the scene', () => sceneScreenshot(browser, pageUrl, screenshot.replace(/\.png$/, '-scene.png')));

  // Figures for the README, printed rather than asserted.
  await upload('Tile file', 'TILES.16');
  const redraws = await page.evaluate(() => {
    const box = document.getElementById('dungeon');
    const times = [];
    for (let i = 0; i < 40; i++) {
      const start = performance.now();
      box.click();
      times.push(performance.now() - start);
    }
    return times.sort((a, b) => a - b);
  });
  // A pencil stroke across the sheet at 8x, one pointer event after another.
  await page.select('#zoom', '8');
  await (await named('Pencil')).click();
  const strokes = await page.evaluate(() => {
    const sheet = document.getElementById('sheet');
    const box = sheet.getBoundingClientRect();
    const at = (type, x, y) => new PointerEvent(type, { clientX: box.left + x * 8, clientY: box.top + y * 8, pointerId: 1, bubbles: true });
    const times = [];
    sheet.dispatchEvent(at('pointerdown', 20, 20));
    for (let i = 1; i <= 100; i++) {
      const start = performance.now();
      sheet.dispatchEvent(at('pointermove', 20 + i, 20 + (i >> 1)));
      times.push(performance.now() - start);
    }
    sheet.dispatchEvent(at('pointerup', 120, 70));
    return times.sort((a, b) => a - b);
  });
  console.log(`benchmark: pencil at 8x, per pointer event: median ${strokes[50].toFixed(2)} ms, slowest ${strokes[99].toFixed(2)} ms`);
  const scene = await sceneRedrawTimes(page);
  console.log(`benchmark: a tile edit redrawn in a 64 x 64 scene, per pointer event: median ${scene[20].toFixed(2)} ms, slowest ${scene[39].toFixed(2)} ms`);
  const bytes = pageBytes;
  console.log(`benchmark: redraw after an option change: median ${redraws[20].toFixed(1)} ms, slowest ${redraws[39].toFixed(1)} ms`);
  // Opened again in a new tab of the running browser, with nothing kept: the
  // usual way a file is opened.
  const opens = [];
  for (let i = 0; i < 5; i++) {
    const context = await browser.createBrowserContext();
    const fresh = await context.newPage();
    await fresh.setViewport({ width: 1400, height: 1000 });
    await fresh.goto(pageUrl);
    await fresh.waitForFunction(() => performance.getEntriesByName('sheet-drawn').length > 0);
    opens.push(await fresh.evaluate(() => performance.getEntriesByName('sheet-drawn')[0].startTime));
    await context.close();
  }
  opens.sort((a, b) => a - b);
  console.log(`benchmark: sample sheet shown after opening from disk: median ${opens[2].toFixed(0)} ms in a new tab `
    + `(fastest ${opens[0].toFixed(0)}, slowest ${opens[4].toFixed(0)}), ${shownAfter.toFixed(0)} ms as the first page of a new browser`);
  console.log(`benchmark: the page, one file: ${bytes} bytes`);
  if (problems.length > 0) failures.push(...problems);
} finally {
  await browser.close();
}
for (const f of failures) console.log(`FAILED ${f}`);
console.log(`${failures.length === 0 ? 'browser test passed' : 'browser test failed'}`);
process.exit(failures.length === 0 ? 0 : 1);
