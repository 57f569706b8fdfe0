// The dashboard page: follows /events, draws the relays, the house and the
// plot, and sends keys and console lines.
'use strict';

const RELAYS = ['O/B', 'Y1', 'Y2', 'W1/E', 'W2', 'DEH', 'HUM', 'G1', 'G2', 'G3'];
const MODES = ['program', 'vacation', 'hold', 'permanent hold'];
const SYSTEMS = ['heat', 'cool', 'auto', 'off', 'emergency heat'];
const HOLD_AFTER_MS = 400;
const PLOT_HOURS = 6;
const $ = (id) => document.getElementById(id);

let samples = [];
let unit = 'C';
let lastState = null;

function degrees(c) {
  if (c === null || c === undefined) return '-';
  return unit === 'F' ? (c * 9 / 5 + 32).toFixed(1) + ' \u00b0F' : c.toFixed(1) + ' \u00b0C';
}

async function post(path, body) {
  const r = await fetch(path, { method: 'POST', body: body || '' });
  $('error').textContent = r.ok ? '' : (await r.text());
  return r.ok;
}

function runLine(line) { return post('/api/console', line); }

// ---- Keys: a short click taps, a long press holds until released. ----
const held = {};
function keyDown(name) {
  if (held[name]) return;
  const button = document.querySelector(`[data-key="${name}"]`);
  button.classList.add('down');
  held[name] = { button, long: false };
  held[name].timer = setTimeout(() => {
    held[name].long = true;
    button.classList.add('held');
    post(`/api/key?name=${name}&action=press`);
  }, HOLD_AFTER_MS);
}
function keyUp(name) {
  const h = held[name];
  if (!h) return;
  clearTimeout(h.timer);
  delete held[name];
  h.button.classList.remove('down', 'held');
  post(`/api/key?name=${name}&action=${h.long ? 'release' : 'tap'}`);
}
for (const b of document.querySelectorAll('[data-key]')) {
  const name = b.dataset.key;
  b.addEventListener('pointerdown', (e) => { b.setPointerCapture(e.pointerId); keyDown(name); });
  b.addEventListener('pointerup', () => keyUp(name));
  b.addEventListener('pointercancel', () => keyUp(name));
}
const KEYBOARD = { ArrowUp: 'up', ArrowDown: 'down', Enter: 'mode', m: 'mode', M: 'mode', Escape: 'exit' };
function keyboardKey(e) {
  if (e.target.closest('input, select, textarea')) return null;
  return KEYBOARD[e.key] || null;
}
document.addEventListener('keydown', (e) => {
  const name = keyboardKey(e);
  if (!name) return;
  e.preventDefault();
  if (!e.repeat) keyDown(name);
});
document.addEventListener('keyup', (e) => {
  const name = keyboardKey(e);
  if (name) { e.preventDefault(); keyUp(name); }
});
window.addEventListener('blur', () => Object.keys(held).forEach(keyUp));

$('zoom').addEventListener('click', () => {
  const small = $('unit').classList.toggle('small');
  $('zoom').textContent = small ? 'show 2x' : 'show 1:1';
});

// ---- Console forms and buttons ----
for (const form of document.querySelectorAll('form.control')) {
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    const value = form.elements.v.value.trim();
    const line = form.dataset.command ? `${form.dataset.command} ${value}` : value;
    if (line.trim()) runLine(line);
  });
}
for (const b of document.querySelectorAll('[data-line]')) {
  b.addEventListener('click', () => runLine(b.dataset.line));
}
$('scale').addEventListener('change', () => post(`/api/scale?value=${$('scale').value}`));

// ---- Relays, house and plot ----
for (const name of RELAYS) {
  const lamp = document.createElement('div');
  lamp.className = 'lamp unknown';
  lamp.innerHTML = '<i></i>';
  lamp.append(name);
  $('relays').append(lamp);
}

function showState(s) {
  lastState = s;
  $('clock').textContent = s.clock;
  const scale = String(s.scale);
  if (![...$('scale').options].some((o) => o.value === scale)) $('scale').add(new Option(scale));
  if (document.activeElement !== $('scale')) $('scale').value = scale;
  [...$('relays').children].forEach((lamp, i) => {
    lamp.classList.toggle('on', s.relays[i] === '1');
    lamp.classList.toggle('unknown', s.relays[i] === '?');
  });
  if (s.thermostat) unit = s.thermostat.unit;
  $('h-indoor').textContent = degrees(s.house.indoor);
  $('h-outdoor').textContent = degrees(s.house.outdoor);
  $('h-rh').textContent = s.house.rh.toFixed(1) + ' %';
  $('h-activity').textContent = s.house.activity + (s.house.fan ? ', fan' : '');
  const t = s.thermostat;
  $('h-setpoint').textContent = t
    ? `heat ${degrees(t.heat)}, cool ${degrees(t.cool)} (${MODES[t.mode] || t.mode}, ${SYSTEMS[t.hvac] || t.hvac})`
    : 'no configuration record yet';
  $('h-setpoint').dataset.heat = t ? t.heat : '';
  $('h-setpoint').dataset.mode = t ? t.mode : '';
}

function drawPlot() {
  const canvas = $('plot');
  const g = canvas.getContext('2d');
  const W = canvas.width, H = canvas.height, left = 44, top = 8, strips = 4, stripH = 9;
  const plotH = H - top - 22 - strips * (stripH + 2);
  g.clearRect(0, 0, W, H);
  g.font = '11px system-ui';
  if (samples.length < 2) {
    g.fillStyle = '#868e96';
    g.fillText('collecting samples (one every 30 simulated seconds)', left, H / 2);
    return;
  }
  const end = samples[samples.length - 1].t;
  const start = Math.max(samples[0].t, end - PLOT_HOURS * 3600);
  const shown = samples.filter((s) => s.t >= start);
  const conv = (c) => (unit === 'F' ? c * 9 / 5 + 32 : c);
  let lo = Infinity, hi = -Infinity;
  for (const s of shown) {
    for (const v of [s.in, s.heat, s.cool]) {
      if (v !== null) { lo = Math.min(lo, conv(v)); hi = Math.max(hi, conv(v)); }
    }
  }
  lo = Math.floor(lo - 1); hi = Math.ceil(hi + 1);
  const x = (t) => left + (W - left - 8) * (t - start) / Math.max(1, end - start);
  const y = (c) => top + plotH * (hi - conv(c)) / (hi - lo);
  g.strokeStyle = '#e9ecef'; g.fillStyle = '#495057';
  for (let v = lo; v <= hi; v += Math.max(1, Math.round((hi - lo) / 6))) {
    const yy = top + plotH * (hi - v) / (hi - lo);
    g.beginPath(); g.moveTo(left, yy); g.lineTo(W, yy); g.stroke();
    g.fillText(v + '\u00b0' + unit, 2, yy + 4);
  }
  // Set point band between heat and cool set points.
  const band = shown.filter((s) => s.heat !== null && s.cool !== null);
  if (band.length > 1) {
    g.fillStyle = '#ffe8cc88';
    g.beginPath();
    band.forEach((s, i) => (i ? g.lineTo(x(s.t), y(s.heat)) : g.moveTo(x(s.t), y(s.heat))));
    band.slice().reverse().forEach((s) => g.lineTo(x(s.t), y(s.cool)));
    g.fill();
  }
  const line = (key, colour, dash) => {
    g.strokeStyle = colour; g.setLineDash(dash); g.lineWidth = key === 'in' ? 2 : 1;
    g.beginPath();
    let drawing = false;
    for (const s of shown) {
      if (s[key] === null) { drawing = false; continue; }
      drawing ? g.lineTo(x(s.t), y(s[key])) : g.moveTo(x(s.t), y(s[key]));
      drawing = true;
    }
    g.stroke(); g.setLineDash([]); g.lineWidth = 1;
  };
  line('heat', '#e03131', [4, 3]);
  line('cool', '#1971c2', [4, 3]);
  line('in', '#212529', []);
  // Equipment on-times, one strip each: heat, cool, fan, humidity.
  const groups = [['heat', 0b11000, '#e03131'], ['cool', 0b110, '#1971c2'],
    ['fan', 0b1110000000, '#2f9e44'], ['hum/deh', 0b1100000, '#7048e8']];
  groups.forEach(([name, mask, colour], row) => {
    const yy = top + plotH + 6 + row * (stripH + 2);
    g.fillStyle = '#495057'; g.fillText(name, 2, yy + stripH - 1);
    g.fillStyle = colour;
    // A sample tells which relays closed since the sample before it.
    for (let i = 1; i < shown.length; i++) {
      if (shown[i].relays & mask) g.fillRect(x(shown[i - 1].t), yy, Math.max(1, x(shown[i].t) - x(shown[i - 1].t)), stripH);
    }
  });
  g.fillStyle = '#495057';
  const hours = ((end - start) / 3600).toFixed(1);
  g.fillText(`last ${hours} h (simulated)`, W - 130, H - 4);
}

// ---- The event stream ----
const log = $('log');
function addLine(text) {
  const atEnd = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
  const div = document.createElement('div');
  div.textContent = text;
  const kind = /^\S+ (tstat>|sim>|web>)/.exec(text);
  if (kind) div.className = kind[1].slice(0, -1);
  log.append(div);
  while (log.childElementCount > 2000) log.firstElementChild.remove();
  if (atEnd) log.scrollTop = log.scrollHeight;
}

function showScreen(version) {
  if (Number(version) === 0) return;
  $('screen').src = `/screen.png?v=${version}`;
  $('noscreen').hidden = true;
}

const events = new EventSource('/events');
events.onopen = () => { $('link').textContent = 'live'; $('link').className = ''; };
events.onerror = () => { $('link').textContent = 'reconnecting'; $('link').className = 'bad'; };
events.addEventListener('history', (e) => { samples = JSON.parse(e.data); log.textContent = ''; drawPlot(); });
events.addEventListener('sample', (e) => {
  samples.push(JSON.parse(e.data));
  if (samples.length > 720) samples.shift();
  drawPlot();
});
events.addEventListener('console', (e) => addLine(e.data));
events.addEventListener('screen', (e) => showScreen(e.data));
events.addEventListener('state', (e) => {
  const s = JSON.parse(e.data);
  if (!lastState || lastState.screen !== s.screen) showScreen(s.screen);
  showState(s);
});
