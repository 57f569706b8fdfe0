// What the browser tests share: a run of tstat-sim in a directory of its own
// with its output kept, polling with a deadline, the run's files read as they
// grow, headless Chromium on the page the simulator serves, a picture of the
// page when TSTAT_SCREENSHOT asks for one, and the clean-up.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

export const SIM = process.env.TSTAT_SIM;
export const CHROMIUM = process.env.TSTAT_CHROMIUM || '/usr/bin/chromium';
export const SOURCE = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');

export function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

export class SimRun {
  constructor(prefix) {
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
    this.proc = null;
    this.output = '';
    this.context = null;
    this.page = null;
    process.on('exit', () => {
      if (process.exitCode) console.log(`tstat-sim said:\n${this.output.slice(-4000)}`);
    });
  }

  start(args, env = {}) {
    assert.ok(SIM && fs.existsSync(SIM), 'TSTAT_SIM must name tstat-sim');
    assert.ok(fs.existsSync(CHROMIUM), `${CHROMIUM} is missing: run scripts/install-deps.sh`);
    this.proc = spawn(SIM, args, { env: { ...process.env, ...env }, stdio: ['pipe', 'pipe', 'pipe'] });
    this.proc.stdout.on('data', (d) => { this.output += d; });
    this.proc.stderr.on('data', (d) => { this.output += d; });
  }

  // A file of the run ('' while it does not exist).
  read(rel) {
    try {
      return fs.readFileSync(path.join(this.dir, rel), 'utf8');
    } catch {
      return '';
    }
  }

  // Polls check() until it returns a true value or `ms` host milliseconds pass.
  async waitFor(what, check, ms = 30000) {
    const end = Date.now() + ms;
    for (;;) {
      const value = await check();
      if (value) return value;
      if (Date.now() > end) throw new Error(`timed out waiting for ${what}\n${this.output.slice(-2000)}`);
      await sleep(100);
    }
  }

  // The simulator's page at 1280 x 900, once it has written its port.
  async open(portMs = 30000) {
    const port = await this.waitFor('sim/http.port', () => this.read('sim/http.port').trim(), portMs);
    this.context = await chromium.launchPersistentContext(fs.mkdtempSync(path.join(os.tmpdir(), 'tstat-chromium-')), {
      executablePath: CHROMIUM,
      headless: true,
      viewport: { width: 1280, height: 900 },
      args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
    this.page = this.context.pages()[0] || (await this.context.newPage());
    await this.page.goto(`http://127.0.0.1:${port}/`);
    return this.page;
  }

  // TSTAT_SCREENSHOT=FILE: the page saved there (a relative path is taken
  // from the top of the source tree).
  async screenshot(options = {}) {
    if (!process.env.TSTAT_SCREENSHOT) return;
    await this.page.screenshot({ path: path.resolve(SOURCE, process.env.TSTAT_SCREENSHOT), ...options });
  }

  async stop() {
    if (this.context) await this.context.close();
    if (this.proc && this.proc.exitCode === null) {
      this.proc.kill('SIGTERM');
      await new Promise((resolve) => this.proc.once('exit', resolve));
    }
    if (process.env.TSTAT_KEEP_ROOT === undefined) fs.rmSync(this.dir, { recursive: true, force: true });
  }
}
