// The building's dashboard of tstat-sim building in headless Chromium: a
// tile per unit with its live screen, address, room and relay lamps; the
// building's demand drawn; the controller's console running a line; a
// click on a tile focusing the unit's own dashboard, whose key reaches that
// unit; nothing scrolls sideways at 1280 px; and the page after the end.
//
// Run by ctest (label browser) with TSTAT_SIM naming tstat-sim;
// TSTAT_SCREENSHOT=FILE also saves a picture of the page.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { SOURCE, SimRun } from './harness.mjs';

const run = new SimRun('tstat-building-');
const out = run.dir;
const waitFor = run.waitFor.bind(run);
const readFile = run.read.bind(run);
let page;

before(async () => {
  // The building `make test` runs, its weather found from here, at 60 times
  // real time: three hours take three minutes, more than the test needs.
  const building = fs.readFileSync(path.join(SOURCE, 'tests/sim/building/small.txt'), 'utf8')
    .replace('sim/weather/', `${SOURCE}/sim/weather/`);
  fs.writeFileSync(path.join(out, 'small.txt'), building);
  run.start(['building', path.join(out, 'small.txt'), '--out', out, '--http', '0',
    '--pace', '60', '--no-baseline']);
  page = await run.open(60000);
});

after(() => run.stop());

test('the page goes live with a tile per unit and its address', async () => {
  await page.locator('#link', { hasText: 'live' }).waitFor();
  await waitFor('three tiles', async () => (await page.locator('.tile').count()) === 3);
  assert.deepEqual(await page.locator('.tile .name').allTextContents(), ['@1 north', '@2 east', '@3 south']);
});

test('every tile shows its unit\'s screen, room and lamps', async () => {
  await waitFor('three screens', () => page.evaluate(() =>
    [...document.querySelectorAll('.tile img')].every((img) => img.naturalWidth === 240)));
  const rooms = await page.locator('.tile .room').allTextContents();
  for (const room of rooms) assert.match(room, /^\d+\.\d \u00b0F/);
  assert.equal(await page.locator('.tile').first().locator('.lamps i').count(), 10);
});

test('the building\'s demand is drawn minute by minute', async () => {
  await waitFor('a few minutes of demand', () => page.evaluate(() => {
    const c = document.getElementById('demand');
    // Something blue drawn besides the grid.
    const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    for (let i = 0; i < data.length; i += 4) if (data[i + 2] > 200 && data[i] < 60) return true;
    return false;
  }), 60000);
});

test('the console runs a line of the controller', async () => {
  await page.fill('#line', 'units');
  await page.press('#line', 'Enter');
  await page.locator('#log div', { hasText: 'web> units' }).first().waitFor();
  await page.locator('#log div', { hasText: /south\s+3\s/ }).first().waitFor();
});

test('nothing scrolls sideways at 1280 px', async () => {
  const wide = await page.evaluate(() => document.documentElement.scrollWidth);
  assert.ok(wide <= 1280, `the page is ${wide} px wide`);
  await run.screenshot();
});

test('a click focuses the unit, and its key reaches that unit', async () => {
  await page.locator('.tile').nth(1).click();
  await page.locator('#focus-name', { hasText: '@2 east' }).waitFor();
  const frame = page.frameLocator('#focus-frame');
  await frame.locator('#link', { hasText: 'live' }).waitFor({ timeout: 30000 });
  await frame.locator('[data-key="up"]').click();
  await waitFor('the key at east', () => readFile('units/east/console.log').includes('web> key up'));
  assert.ok(!readFile('units/north/console.log').includes('web> key up'));
  await page.locator('#focus-close').click();
  assert.equal(await page.locator('#focus').isHidden(), true);
});

test('the page says when the run has ended', async () => {
  run.proc.kill('SIGTERM');
  await page.locator('#ended', { hasText: 'has ended' }).waitFor({ timeout: 30000 });
  assert.equal(await page.textContent('#link'), 'ended');
});
