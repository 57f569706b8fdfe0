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
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const SIM = process.env.TSTAT_SIM;
const CHROMIUM = process.env.TSTAT_CHROMIUM || '/usr/bin/chromium';
const HERE = path.dirname(fileURLToPath(import.meta.url));
const SOURCE = path.resolve(HERE, '..', '..');

const out = fs.mkdtempSync(path.join(os.tmpdir(), 'tstat-building-'));
let sim;
let simOutput = '';
let context;
let page;

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

async function waitFor(what, check, ms = 30000) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}\n${simOutput.slice(-2000)}`);
    await sleep(100);
  }
}

function readFile(rel) {
  try {
    return fs.readFileSync(path.join(out, rel), 'utf8');
  } catch {
    return '';
  }
}

before(async () => {
  assert.ok(SIM && fs.existsSync(SIM), 'TSTAT_SIM must name tstat-sim');
  assert.ok(fs.existsSync(CHROMIUM), `${CHROMIUM} is missing: run scripts/install-deps.sh`);
  // The building `make test` runs, its weather found from here, at 60 times
  // real time: three hours take three minutes, more than the test needs.
  const building = fs.readFileSync(path.join(SOURCE, 'tests/sim/building/small.txt'), 'utf8')
    .replace('sim/weather/', `${SOURCE}/sim/weather/`);
  fs.writeFileSync(path.join(out, 'small.txt'), building);
  sim = spawn(SIM, ['building', path.join(out, 'small.txt'), '--out', out, '--http', '0',
    '--pace', '60', '--no-baseline'], { stdio: ['pipe', 'pipe', 'pipe'] });
  sim.stdout.on('data', (d) => { simOutput += d; });
  sim.stderr.on('data', (d) => { simOutput += d; });
  const port = await waitFor('sim/http.port', () => readFile('sim/http.port').trim(), 60000);
  context = await chromium.launchPersistentContext(fs.mkdtempSync(path.join(os.tmpdir(), 'tstat-chromium-')), {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1280, height: 900 },
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  page = context.pages()[0] || (await context.newPage());
  await page.goto(`http://127.0.0.1:${port}/`);
});

after(async () => {
  if (context) await context.close();
  if (sim && sim.exitCode === null) {
    sim.kill('SIGTERM');
    await new Promise((resolve) => sim.once('exit', resolve));
  }
  if (process.env.TSTAT_KEEP_ROOT === undefined) fs.rmSync(out, { recursive: true, force: true });
});

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
  if (process.env.TSTAT_SCREENSHOT) await page.screenshot({ path: process.env.TSTAT_SCREENSHOT });
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
  sim.kill('SIGTERM');
  await page.locator('#ended', { hasText: 'has ended' }).waitFor({ timeout: 30000 });
  assert.equal(await page.textContent('#link'), 'ended');
});
