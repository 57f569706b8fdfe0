// The building's page: a tile per unit (its screen, address, zone, room and
// relay lamps) that focuses the unit's own dashboard when clicked, the
// building's demand minute by minute with its events, and the controller's
// console. Everything comes on one event stream (/events).
'use strict';

const RELAYS = ['O/B', 'Y1', 'Y2', 'W1/E', 'W2', 'DEH', 'HUM', 'G1', 'G2', 'G3'];
const grid = document.getElementById('grid');
const log = document.getElementById('log');
const canvas = document.getElementById('demand');
const tiles = [];
let units = [];
let focused = -1;
const demand = { start: 0, minutes: 0, kw: [] };
let events = [];
let ended = false;

async function post(path, body) {
  const r = await fetch(path, { method: 'POST', body: body || '' });
  return { ok: r.ok, text: await r.text() };
}

function degrees(celsius, inCelsius) {
  return inCelsius ? `${celsius.toFixed(1)} \u00b0C` : `${(celsius * 1.8 + 32).toFixed(1)} \u00b0F`;
}

function makeTile(i) {
  const tile = document.createElement('div');
  tile.className = 'tile';
  tile.tabIndex = 0;
  tile.dataset.unit = String(i);
  tile.innerHTML = '<img alt="" width="120" height="160"><div class="name"></div>' +
    '<div class="room"></div><div class="page"></div><div class="lamps"></div>';
  const lamps = tile.querySelector('.lamps');
  for (const name of RELAYS) {
    const lamp = document.createElement('i');
    lamp.title = name;
    lamps.appendChild(lamp);
  }
  tile.addEventListener('click', () => focus(i));
  tile.addEventListener('keydown', (e) => { if (e.key === 'Enter') focus(i); });
  grid.appendChild(tile);
  return tile;
}

function showUnits(state) {
  document.getElementById('clock').textContent = state.clock;
  units = state.units;
  document.getElementById('count').textContent = `${units.length} units`;
  units.forEach((u, i) => {
    const tile = tiles[i] || (tiles[i] = makeTile(i));
    tile.querySelector('.name').textContent = `@${u.address} ${u.name}`;
    tile.querySelector('.room').textContent = degrees(u.room, u.celsius);
    tile.querySelector('.page').textContent = u.page === '?' ? '' : `page ${u.page}`;
    tile.title = u.ended ? `${u.name}: ${u.ended}` : `${u.name} at address ${u.address}: click for its keys`;
    tile.classList.toggle('ended', u.ended !== '');
    [...tile.querySelectorAll('.lamps i')].forEach((lamp, r) => {
      lamp.className = u.relays[r] === '1' ? 'on' : u.relays[r] === '0' ? '' : 'unknown';
    });
  });
  if (focused >= 0) openFocus();
}

function showScreen(data) {
  const { unit, version } = JSON.parse(data);
  const tile = tiles[unit];
  if (tile) tile.querySelector('img').src = `/unit.png?unit=${unit}&v=${version}`;
}

// The unit's own dashboard, served by its simulator once asked for.
async function focus(i) {
  if (ended || !units[i] || units[i].ended) return;
  focused = i;
  document.getElementById('focus').hidden = false;
  document.getElementById('focus-name').textContent = `@${units[i].address} ${units[i].name}`;
  document.getElementById('focus-note').textContent = 'starting its dashboard';
  const r = await post(`/api/focus?unit=${i}`);
  if (!r.ok) document.getElementById('focus-note').textContent = r.text;
  openFocus();
}

function openFocus() {
  const u = units[focused];
  const frame = document.getElementById('focus-frame');
  if (!u || !u.port) return;
  const src = `http://127.0.0.1:${u.port}/`;
  if (frame.dataset.src !== src) {
    frame.dataset.src = src;
    frame.src = src;
    document.getElementById('focus-note').textContent = `its own dashboard, ${src}`;
  }
}

document.getElementById('focus-close').addEventListener('click', () => {
  focused = -1;
  const frame = document.getElementById('focus-frame');
  frame.removeAttribute('src');
  delete frame.dataset.src;
  document.getElementById('focus').hidden = true;
});

function addDemand(data) {
  const d = JSON.parse(data);
  demand.start = d.start;
  demand.minutes = d.minutes;
  d.kw.forEach((v, k) => { demand.kw[d.from + k] = v; });
  drawDemand();
}

function drawDemand() {
  const ratio = window.devicePixelRatio || 1;
  const w = canvas.clientWidth;
  const h = canvas.clientHeight;
  canvas.width = w * ratio;
  canvas.height = h * ratio;
  const g = canvas.getContext('2d');
  g.scale(ratio, ratio);
  g.clearRect(0, 0, w, h);
  const left = 40, right = w - 24, top = 10, bottom = h - 24;
  const minutes = Math.max(1, demand.minutes);
  let most = 1;
  demand.kw.forEach((v) => { if (v > most) most = v; });
  most *= 1.1;
  const x = (m) => left + (m / minutes) * (right - left);
  const y = (kw) => bottom - (kw / most) * (bottom - top);
  for (const e of events) {
    g.fillStyle = 'rgba(242, 169, 0, 0.22)';
    g.fillRect(x(e.at), top, Math.max(1, x(e.until) - x(e.at)), bottom - top);
    g.fillStyle = 'rgba(242, 169, 0, 0.10)';
    g.fillRect(x(e.until), top, Math.max(1, x(e.back) - x(e.until)), bottom - top);
  }
  g.strokeStyle = '#ced4da';
  g.fillStyle = '#495057';
  g.font = '11px system-ui, sans-serif';
  const step = Math.pow(10, Math.floor(Math.log10(most))) * (most / Math.pow(10, Math.floor(Math.log10(most))) > 5 ? 1 : 0.5);
  for (let v = 0; v <= most; v += step) {
    g.beginPath(); g.moveTo(left, y(v)); g.lineTo(right, y(v)); g.stroke();
    g.fillText(v.toFixed(step < 1 ? 1 : 0), 4, y(v) + 4);
  }
  const hours = minutes > 12 * 60 ? 3 : 1;
  for (let m = 0; m <= minutes; m += 60 * hours) {
    const t = new Date((demand.start + m * 60) * 1000);
    g.fillText(`${String(t.getHours()).padStart(2, '0')}:${String(t.getMinutes()).padStart(2, '0')}`, x(m) - 15, h - 8);
  }
  g.strokeStyle = '#1f7ae0';
  g.lineWidth = 1.5;
  g.beginPath();
  demand.kw.forEach((v, m) => { if (m === 0) g.moveTo(x(m + 0.5), y(v)); else g.lineTo(x(m + 0.5), y(v)); });
  g.stroke();
}

function addLine(line) {
  const div = document.createElement('div');
  const text = line.slice(9);
  div.className = text.startsWith('bus') ? 'bus' : text.startsWith('@') ? 'reply'
    : text.startsWith('web>') ? 'web' : text.startsWith('building') ? 'building' : '';
  div.textContent = line;
  const atEnd = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
  log.appendChild(div);
  while (log.childElementCount > 500) log.firstChild.remove();
  if (atEnd) log.scrollTop = log.scrollHeight;
}

document.getElementById('console').addEventListener('submit', async (e) => {
  e.preventDefault();
  const input = document.getElementById('line');
  const r = await post('/api/console', input.value);
  document.getElementById('error').textContent = r.ok ? '' : r.text;
  if (r.ok) input.value = '';
});

const stream = new EventSource('/events');
const link = document.getElementById('link');
stream.onopen = () => { if (!ended) { link.textContent = 'live'; link.className = ''; } };
stream.onerror = () => { if (!ended) { link.textContent = 'reconnecting'; link.className = 'bad'; } };
stream.addEventListener('units', (e) => showUnits(JSON.parse(e.data)));
stream.addEventListener('screen', (e) => showScreen(e.data));
stream.addEventListener('demand', (e) => addDemand(e.data));
stream.addEventListener('events', (e) => { events = JSON.parse(e.data); drawDemand(); });
stream.addEventListener('console', (e) => addLine(e.data));
stream.addEventListener('ended', (e) => {
  ended = true;
  stream.close();
  link.textContent = 'ended';
  link.className = 'ended';
  const box = document.getElementById('ended');
  box.textContent = `The building's run has ended: ${JSON.parse(e.data).why}.`;
  box.hidden = false;
});
window.addEventListener('resize', drawDemand);
