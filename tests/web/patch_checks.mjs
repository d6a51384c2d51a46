// Patches as modders share them: made in the page and applied by
// qelega_patch, made by qelega_patch and applied in the page, refused when
// they do not fit, and the page's count of what changed.
import assert from 'node:assert/strict';
import fs from 'node:fs';

export async function patchChecks(t) {
  const { page, named, upload, setChecked, downloadOf, text, file, check, tool, pixel, setPixel, run, sheetClick, patcher } = t;
  const original = fs.readFileSync(file('TILES.16'));
  const tileFile = () => downloadOf('Download tile file', 'TILES.16');
  const ctrl = async (key) => { await page.keyboard.down('Control'); await page.keyboard.press(key); await page.keyboard.up('Control'); };

  await check('a patch made in the page applies with qelega_patch, in both formats', async () => {
    await upload('Tile file', 'TILES.16');
    await page.select('#zoom', '2');
    await tool('Pencil');
    await page.keyboard.press('c');
    const edited = Buffer.from(original);
    for (const x of [3, 4]) {
      await sheetClick(10, x, 5);
      setPixel(edited, 10, 5, x, 12);
    }
    await tool('Select');
    await sheetClick(20);
    await (await named('Swap tiles')).click();
    await sheetClick(21);
    edited.copy(edited, 20 * 128, 21 * 128, 22 * 128);
    original.copy(edited, 21 * 128, 20 * 128, 21 * 128);
    assert.ok((await tileFile()).equals(edited));
    let pixels = 0;
    for (let i = 0; i < 2 * original.length; i++) pixels += pixel(original, i >> 8, (i >> 4) & 15, i & 15) !== pixel(edited, i >> 8, (i >> 4) & 15, i & 15);
    await setChecked('Changed tiles', true);
    assert.equal(await text('[role=status]'), `3 tiles and ${pixels} pixels differ from TILES.16`);
    for (const format of ['bps', 'ips']) {
      await page.select('#patch-format', format);
      fs.writeFileSync(file(`page.${format}`), await downloadOf('Download patch', `TILES.${format}`));
      fs.rmSync(file(`patched.${format}`), { force: true });
      run(patcher, ['--apply', `page.${format}`, 'TILES.16', `patched.${format}`]);
      assert.ok(fs.readFileSync(file(`patched.${format}`)).equals(edited), format);
    }
    assert.ok(fs.statSync(file('page.bps')).size < 200, 'a small patch');
    await setChecked('Changed tiles', false);
  });

  await check('a patch made by qelega_patch applies in the page as one step, and a wrong one is refused', async () => {
    const edited = Buffer.from(original);
    edited.fill(0x77, 300 * 128, 301 * 128);
    fs.writeFileSync(file('FILLED.16'), edited);
    for (const name of ['tool.bps', 'tool.ips']) {
      fs.rmSync(file(name), { force: true });
      run(patcher, [...(name.endsWith('.ips') ? ['--ips'] : []), 'TILES.16', 'FILLED.16', name]);
      await upload('Tile file', 'TILES.16');
      await upload('Apply patch', name);
      assert.equal(await text('[role=status]'), `applied '${name}' to 'TILES.16'; Undo takes it back`);
      assert.ok((await tileFile()).equals(edited), name);
      await ctrl('z');
      assert.ok((await tileFile()).equals(original), `${name} undone`);
    }
    const other = Buffer.from(original);
    other[5] ^= 1;
    fs.writeFileSync(file('OTHER.16'), other);
    await upload('Tile file', 'OTHER.16');
    await upload('Apply patch', 'tool.bps');
    assert.match(await text('[role=alert]'), /^wrong file: patch wants 65536 bytes with crc32 [0-9A-F]{8}, found 65536 bytes with crc32 [0-9A-F]{8}$/);
    assert.ok((await tileFile()).equals(other), 'a refused patch changes nothing');
    await upload('Tile file', 'FILLED.16');
    await upload('Apply patch', 'tool.bps');
    assert.equal(await text('[role=alert]'), 'file is already patched');
  });
}
