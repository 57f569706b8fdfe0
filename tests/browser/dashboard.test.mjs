// The dashboard of tstat-sim in headless Chromium: the page shows the
// thermostat's screen, its keys reach the application, the bus console
// carries a command and its reply, the relay lamps follow sim/relays, the
// plot and the outdoor mean are in the thermostat's unit from its first
// frame, nothing scrolls sideways at 1280 px, the plot's event names never
// overlap, and the exit key asks first
// and the page then says the application has ended.
//
// Run by ctest (label browser) with TSTAT_SIM and TSTAT_CONFIG_TOOL naming
// the binaries; TSTAT_SCREENSHOT=FILE also saves a picture of the page.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import path from 'node:path';
import { SimRun, sleep } from './harness.mjs';

const CONFIG_TOOL = process.env.TSTAT_CONFIG_TOOL;
// Simulated time runs ten times faster: the hold page's 10 s store takes 1 s.
const TIME_SCALE = '10';

const run = new SimRun('tstat-dash-');
const root = run.dir;
const waitFor = run.waitFor.bind(run);
const readFile = run.read.bind(run);
let page;

before(async () => {
  run.start(['run', '--root', root, '--http', '0', '--no-status'],
    { TSTAT_TIME_SCALE: TIME_SCALE, TSTAT_TIME_ANCHOR: '', SDL_VIDEODRIVER: 'dummy' });
  page = await run.open();
});

after(() => run.stop());

test('the page goes live with the house and the set points', async () => {
  await page.locator('#link', { hasText: 'live' }).waitFor();
  await waitFor('the house', async () => (await page.textContent('#h-indoor')).includes('\u00b0'));
  await waitFor('the set points', async () => (await page.textContent('#h-setpoint')).startsWith('heat '));
});

test('the page shows the screen at 2x', async () => {
  await waitFor('the screen image', () =>
    page.evaluate(() => document.getElementById('screen').naturalWidth === 240));
  const box = await page.locator('#screen').boundingBox();
  assert.equal(Math.round(box.width), 480);
  assert.equal(Math.round(box.height), 640);
});

test('the relay lamps follow sim/relays', async () => {
  const relays = await waitFor('sim/relays', () => readFile('sim/relays').trim());
  assert.match(relays, /^[01?]{10}$/);
  await waitFor(`lamps showing ${relays}`, async () => {
    const now = readFile('sim/relays').trim();
    const lamps = await page.evaluate(() => [...document.querySelectorAll('.lamp')]
      .map((l) => (l.classList.contains('on') ? '1' : l.classList.contains('unknown') ? '?' : '0')).join(''));
    return lamps === now;
  }, 10000);
});

test('a bus command from the console reaches the bus', async () => {
  await page.fill('#command', '?SERIAL');
  await page.press('#command', 'Enter');
  await page.locator('#log div', { hasText: 'sim> command "?SERIAL"' }).first().waitFor();
});

test('a bus command from the console gets its reply', async () => {
  await page.locator('#log div', { hasText: 'tstat> reply "SERIAL' }).first().waitFor({ timeout: 30000 });
});

test('up twice on the main page stores a hold', async () => {
  await page.locator('[data-key="up"]').click();
  await sleep(300);
  await page.locator('[data-key="up"]').click();
  // The hold page stores after 10 simulated seconds without a key and the
  // main page saves the record.
  assert.equal(await page.textContent('#error'), '');
  await waitFor('a hold in the stored configuration', () => {
    try {
      const shown = execFileSync(CONFIG_TOOL, ['show', path.join(root, 'dev/mtdblock5')], { encoding: 'utf8' });
      return /tstatMode\.mode\s*[:=]?\s*.*hold/.test(shown);
    } catch {
      return false;
    }
  }, 60000);
  await waitFor('the page showing the hold', () =>
    page.evaluate(() => document.getElementById('h-setpoint').dataset.mode === '2'), 10000);
});

test('the plot and the outdoor mean are in the thermostat\'s unit from its first frame', async () => {
  const first = await waitFor('the first plot', () =>
    page.evaluate(() => document.getElementById('plot').dataset.firstUnit), 60000);
  const state = await page.evaluate(async () => (await fetch('/api/state')).json());
  assert.equal(first, state.thermostat.unit);
  // The factory record is in F: the mean of 5 C shows as 41, and 14 F set
  // on the page is -10 C in the house.
  assert.equal(await page.inputValue('#outdoor-mean'), '41');
  await page.fill('#outdoor-mean', '14');
  await page.press('#outdoor-mean', 'Enter');
  await waitFor('the house at -10 C', () => page.evaluate(async () =>
    (await (await fetch('/api/state')).json()).house.outdoorMean === -10));
});

test('nothing scrolls sideways at 1280 px', async () => {
  const [scroll, client] = await page.evaluate(() =>
    [document.documentElement.scrollWidth, document.documentElement.clientWidth]);
  assert.ok(scroll <= client, `${scroll} px wide in ${client} px`);
});

test('the plot\'s event names never overlap, wide or narrow', async () => {
  for (const width of [1280, 700]) {
    await page.setViewportSize({ width, height: 900 });
    // A burst of events at one instant, named on the plot drawn anew.
    const named = JSON.parse(await page.evaluate(() => {
      const t = samples[samples.length - 1].t;
      for (let i = 0; i < 8; i++) marks.push({ t, text: `event ${i} of a burst` });
      drawPlot();
      return document.getElementById('plot').dataset.eventNames || '[]';
    }));
    assert.ok(named.length >= 3, `${named.length} names at ${width} px`);
    for (const [i, a] of named.entries()) {
      for (const b of named.slice(i + 1)) {
        assert.ok(a[2] !== b[2] || a[1] <= b[0] || b[1] <= a[0], `${a} and ${b} at ${width} px`);
      }
    }
  }
  await page.setViewportSize({ width: 1280, height: 900 });
});

test('the exit key asks first, and the page then says the application ended', async () => {
  await run.screenshot({ fullPage: true });
  const dialogOpen = () => page.evaluate(() => document.getElementById('confirm-exit').open);
  await page.keyboard.press('Escape');
  await page.click('#exit');
  assert.ok(await dialogOpen());
  await page.keyboard.press('Escape');
  await sleep(1000);
  assert.ok(!(await dialogOpen()));
  assert.equal(run.proc.exitCode, null, 'Escape must not end the application');
  await page.click('#exit');
  await page.click('#exit-yes');
  await page.locator('#ended', { hasText: 'exit status 0' }).waitFor({ timeout: 30000 });
  assert.ok(await page.evaluate(() => document.body.classList.contains('ended')));
  await waitFor('the simulator to end', () => run.proc.exitCode !== null);
  assert.equal(run.proc.exitCode, 0);
});
