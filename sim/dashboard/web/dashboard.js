// The dashboard page: follows /events, draws the relays, the house, the
// board's state and the plot, and sends keys and console lines.
'use strict';

const MODES = ['program', 'vacation', 'hold', 'permanent hold'];
const SYSTEMS = ['heat', 'cool', 'auto', 'off', 'emergency heat'];
const HOLD_AFTER_MS = 400;
const PLOT_HOURS = 6;
// Below this many real seconds a time-out passes too fast to use the screen.
const SHORT_REAL_S = 10;
const $ = (id) => document.getElementById(id);

let samples = [];
let marks = []; // the run's events: {t (simulated wall s), text}
let unit = null; // 'F' or 'C' once the thermostat's record is known
let utcOffset = 0; // of the simulated clock, s
let lastState = null;
let ended = false;

function shownUnit() { return unit || 'C'; }
function inUnit(c) { return shownUnit() === 'F' ? c * 9 / 5 + 32 : c; }
function degrees(c) {
  if (c === null || c === undefined) return '-';
  return inUnit(c).toFixed(1) + ' \u00b0' + shownUnit();
}

async function post(path, body) {
  if (ended) return false;
  const r = await fetch(path, { method: 'POST', body: body || '' });
  $('error').textContent = r.ok ? '' : (await r.text());
  return r.ok;
}

function runLine(line) { return post('/api/console', line); }

// ---- Keys: a short click taps, a long press holds until released. ----
const held = {};
function keyDown(name) {
  if (held[name] || ended) return;
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
// Escape is not the exit key: it only closes the question below.
const KEYBOARD = { ArrowUp: 'up', ArrowDown: 'down', Enter: 'mode', m: 'mode', M: 'mode' };
function keyboardKey(e) {
  if (e.target.closest('input, select, textarea, dialog')) return null;
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

// The fourth key ends the application: asked first.
$('exit').addEventListener('click', () => { if (!ended) $('confirm-exit').showModal(); });
$('confirm-exit').addEventListener('close', () => {
  if ($('confirm-exit').returnValue === 'exit') post('/api/key?name=exit&action=tap');
  $('confirm-exit').returnValue = '';
});

$('zoom').addEventListener('click', () => {
  const small = $('unit').classList.toggle('small');
  $('zoom').textContent = small ? 'show 2x' : 'show 1:1';
});

// ---- Console forms and buttons ----
for (const form of document.querySelectorAll('form.control')) {
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    let value = form.elements.v.value.trim();
    // Degrees in the page's unit; the console takes them in C.
    if (form.dataset.degrees !== undefined && value !== '' && shownUnit() === 'F') {
      value = String(Math.round((Number(value) - 32) * 5 / 9 * 100) / 100);
    }
    const line = form.dataset.command ? `${form.dataset.command} ${value}` : value;
    if (line.trim()) runLine(line);
  });
}
document.addEventListener('click', (e) => {
  const b = e.target.closest('[data-line]');
  if (b) runLine(b.dataset.line);
});
$('scale').addEventListener('change', () => post(`/api/scale?value=${$('scale').value}`));

// ---- Relays, house, board ----
// The relay lamps, named by the simulator in relay order on the first state.
function makeLamps(names) {
  if ($('relays').children.length) return;
  for (const name of names) {
    const lamp = document.createElement('div');
    lamp.className = 'lamp unknown';
    lamp.innerHTML = '<i></i>';
    lamp.append(name);
    $('relays').append(lamp);
  }
}

function realTime(seconds) {
  return seconds >= 90 ? `${(seconds / 60).toFixed(1)} min` : `${+seconds.toFixed(seconds < 10 ? 1 : 0)} s`;
}

function showBoard(s) {
  const b = s.board;
  const t = s.thermostat;
  if (b.name && $('board-name').textContent !== `on ${b.name}`) {
    $('board-name').textContent = `on ${b.name}`;
    document.title = `tstat on ${b.name}`;
  }
  const page = `${b.pageName || 'page ' + b.page}${b.popUp ? ', a pop-up open' : ''} (${b.page})`;
  // A board that runs the board flavour says its page on its console once it changes.
  const unpublished = b.name === 'the simulated board' ? 'not published yet' : `not said by ${b.name} yet`;
  $('s-page').textContent = b.page >= 0 ? page : unpublished;
  // A scaled run follows real time while a menu is shown or a key held.
  $('realtime').textContent = b.realTime ? `real time while ${b.realTime}; ${b.restoreScale} again after` : '';
  $('realtime').hidden = !b.realTime;
  let light = b.backlight < 0 ? 'not set yet' : `${b.backlight} (${b.backlightName || 'on'})`;
  if (b.backlight === 12 && t && t.screenSaver) light = '12 (dim: screen saver)';
  $('s-backlight').textContent = light;
  $('s-voltage').textContent = `${b.voltage} ${b.underVoltage ? '(under-voltage)' : '(normal)'}`;
  $('s-voltage').classList.toggle('warn', b.underVoltage);
  $('s-bus').textContent = `${b.online ? 'online' : 'OFFLINE'}, levels ${b.levels ? 'enabled' : 'disabled'}, address ${b.address}`;
  $('s-bus').classList.toggle('warn', !b.online);
  // A board that runs the board flavour: its installer's word.
  for (const e of document.querySelectorAll('.board-only')) e.hidden = !b.software && !b.update;
  $('s-software').textContent = b.software || 'not said yet';
  $('s-update').textContent = b.update || 'none';
  $('s-update').classList.toggle('warn', /refused|failed/.test(b.update));
  // At a high time scale the backlight's time-out passes in a blink.
  const hint = $('timeouts');
  if (t && s.scale > 0 && t.backlightTimeout > 0 && t.backlightTimeout / s.scale < SHORT_REAL_S) {
    const after = t.inactiveOff ? 'goes dark' : t.screenSaver ? 'dims to the screen saver' : 'dims';
    const text = `The backlight ${after} ${t.backlightTimeout} s of simulated time after the last key: ` +
      `${realTime(t.backlightTimeout / s.scale)} of real time at time scale ${s.scale}. The first key only wakes it. `;
    if (hint.dataset.text !== text) {
      hint.dataset.text = text;
      hint.textContent = text;
      const longer = document.createElement('button');
      longer.type = 'button';
      longer.dataset.line = 'command BK T3600';
      longer.textContent = 'keep it on for an hour (BK T3600)';
      hint.append(longer);
    }
  } else if (hint.dataset.text) {
    hint.dataset.text = '';
    hint.textContent = '';
  }
}

function showState(s) {
  lastState = s;
  $('clock').textContent = s.clock;
  utcOffset = s.utcOffset || 0;
  // Scale 0: lock-step time, whose pace the run sets (--pace), not the page.
  const locked = s.scale === 0;
  $('scale').disabled = locked;
  $('scale').title = locked ? 'lock-step time: the run sets its own pace (--pace)' : '';
  const scale = locked ? 'lock-step' : String(s.scale);
  if (![...$('scale').options].some((o) => o.value === scale)) $('scale').add(new Option(scale));
  if (document.activeElement !== $('scale')) $('scale').value = scale;
  makeLamps(s.relayNames);
  [...$('relays').children].forEach((lamp, i) => {
    lamp.classList.toggle('on', s.relays[i] === '1');
    lamp.classList.toggle('unknown', s.relays[i] === '?');
  });
  const t = s.thermostat;
  if (t && t.unit !== unit) {
    unit = t.unit;
    drawPlot();
  }
  $('h-indoor').textContent = degrees(s.house.indoor);
  $('h-outdoor').textContent = degrees(s.house.outdoor);
  // The outdoor mean in force, in the page's unit, unless it is being edited.
  $('outdoor-mean-unit').textContent = '\u00b0' + shownUnit();
  if (document.activeElement !== $('outdoor-mean')) {
    $('outdoor-mean').value = +inUnit(s.house.outdoorMean).toFixed(1);
  }
  $('h-rh').textContent = s.house.rh.toFixed(1) + ' %';
  $('h-activity').textContent = s.house.activity + (s.house.fan ? ', fan' : '');
  $('h-setpoint').textContent = t
    ? `heat ${degrees(t.heat)}, cool ${degrees(t.cool)} (${MODES[t.mode] || t.mode}, ${SYSTEMS[t.hvac] || t.hvac})`
    : 'no configuration record yet';
  $('h-setpoint').dataset.heat = t ? t.heat : '';
  $('h-setpoint').dataset.mode = t ? t.mode : '';
  showBoard(s);
}

// ---- The plot, drawn at the size it is shown ----
const PLOT = { left: 60, right: 12, axis: 20, strip: 11, gap: 4 };
// The strips: what ran since the sample before. Whether a stage heated or
// cooled comes from the house (a heat pump's Y1 and Y2 do either, as O/B says).
const GROUPS = [['heat', (s) => s.heating, '#e03131'], ['cool', (s) => s.cooling, '#1971c2'],
  ['fan', (s) => s.relays & 0b1110000000, '#2f9e44'], ['hum/deh', (s) => s.relays & 0b1100000, '#7048e8']];

function clockText(t) {
  const d = new Date((t + utcOffset) * 1000);
  return `${String(d.getUTCHours()).padStart(2, '0')}:${String(d.getUTCMinutes()).padStart(2, '0')}`;
}

// The legend in rows that fit between left and right; returns its height.
function drawLegend(g, left, right, top) {
  const items = [['room', '#212529', []], ['heat set point', '#e03131', [5, 3]],
    ['cool set point', '#1971c2', [5, 3]], ['between them', '#ffd8a8', null]];
  const ROW = 18;
  let x = left, y = top + ROW / 2;
  for (const [text, colour, dash] of items) {
    const width = 23 + g.measureText(text).width;
    if (x > left && x + width > right) { x = left; y += ROW; }
    if (dash === null) {
      g.fillStyle = colour; g.fillRect(x, y - 5, 18, 10);
    } else {
      g.strokeStyle = colour; g.setLineDash(dash); g.lineWidth = 2;
      g.beginPath(); g.moveTo(x, y); g.lineTo(x + 18, y); g.stroke(); g.setLineDash([]);
    }
    g.fillStyle = '#343a40';
    g.fillText(text, x + 23, y);
    x += width + 16;
  }
  return y + ROW / 2 - top;
}

function drawPlot() {
  const canvas = $('plot');
  const W = canvas.clientWidth, H = canvas.clientHeight;
  if (W === 0 || H === 0) return;
  const ratio = window.devicePixelRatio || 1;
  if (canvas.width !== Math.round(W * ratio) || canvas.height !== Math.round(H * ratio)) {
    canvas.width = Math.round(W * ratio);
    canvas.height = Math.round(H * ratio);
  }
  const g = canvas.getContext('2d');
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  g.clearRect(0, 0, W, H);
  g.font = '12px system-ui, sans-serif';
  g.textBaseline = 'middle';
  const P = PLOT;
  const stripsH = GROUPS.length * (P.strip + P.gap);
  const right = W - P.right;
  const top = drawLegend(g, P.left, right, 4) + 10;
  const plotH = H - top - P.axis - stripsH - 8;
  if (samples.length < 2 || unit === null) {
    g.fillStyle = '#868e96';
    // On a narrow page the words wrap rather than run off the plot.
    const lines = [''];
    for (const word of 'collecting samples (one every 30 simulated seconds)'.split(' ')) {
      const line = lines[lines.length - 1] ? `${lines[lines.length - 1]} ${word}` : word;
      if (lines[lines.length - 1] && g.measureText(line).width > W - 16) lines.push(word);
      else lines[lines.length - 1] = line;
    }
    lines.forEach((line, i) => g.fillText(line, 8, H / 2 + (i - (lines.length - 1) / 2) * 16));
    return;
  }
  const end = samples[samples.length - 1].t;
  const start = Math.max(samples[0].t, end - PLOT_HOURS * 3600);
  const shown = samples.filter((s) => s.t >= start);
  let lo = Infinity, hi = -Infinity;
  for (const s of shown) {
    for (const v of [s.in, s.heat, s.cool]) {
      if (v !== null) { lo = Math.min(lo, inUnit(v)); hi = Math.max(hi, inUnit(v)); }
    }
  }
  lo = Math.floor(lo - 1); hi = Math.ceil(hi + 1);
  // The unit of the first plot drawn, for the browser test.
  if (!canvas.dataset.firstUnit) canvas.dataset.firstUnit = unit;
  const x = (t) => P.left + (right - P.left) * (t - start) / Math.max(1, end - start);
  const yOf = (v) => top + plotH * (hi - v) / (hi - lo);
  const y = (c) => yOf(inUnit(c));


  // Value grid in the thermostat's unit.
  const step = Math.max(1, Math.ceil((hi - lo) / 6));
  g.lineWidth = 1;
  for (let v = Math.ceil(lo / step) * step; v <= hi; v += step) {
    const yy = Math.round(yOf(v)) + 0.5;
    g.strokeStyle = '#e9ecef';
    g.beginPath(); g.moveTo(P.left, yy); g.lineTo(right, yy); g.stroke();
    g.fillStyle = '#495057'; g.textAlign = 'right';
    g.fillText(`${v}\u00b0${unit}`, P.left - 6, yy);
  }
  g.textAlign = 'left';
  // Time grid on whole simulated hours (or parts of them for short spans).
  const span = end - start;
  // At least 56 px between two labels.
  const tick = [60, 120, 300, 600, 1200, 1800, 3600, 7200].find((d) => d * (right - P.left) / Math.max(1, span) >= 56) || 10800;
  const bottom = top + plotH + stripsH + 6;
  g.textAlign = 'center';
  for (let t = Math.ceil((start + utcOffset) / tick) * tick - utcOffset; t <= end; t += tick) {
    const xx = Math.round(x(t)) + 0.5;
    g.strokeStyle = '#e9ecef';
    g.beginPath(); g.moveTo(xx, top); g.lineTo(xx, bottom); g.stroke();
    g.fillStyle = '#495057';
    g.fillText(clockText(t), Math.min(Math.max(xx, P.left + 16), right - 16), bottom + P.axis / 2 + 2);
  }
  g.textAlign = 'left';
  g.strokeStyle = '#adb5bd';
  g.strokeRect(P.left + 0.5, top + 0.5, right - P.left - 1, plotH - 1);

  // The band between the heat and cool set points.
  const band = shown.filter((s) => s.heat !== null && s.cool !== null);
  if (band.length > 1) {
    g.fillStyle = '#ffd8a866';
    g.beginPath();
    band.forEach((s, i) => (i ? g.lineTo(x(s.t), y(s.heat)) : g.moveTo(x(s.t), y(s.heat))));
    band.slice().reverse().forEach((s) => g.lineTo(x(s.t), y(s.cool)));
    g.fill();
  }
  const line = (key, colour, dash, width) => {
    g.strokeStyle = colour; g.setLineDash(dash); g.lineWidth = width;
    g.beginPath();
    let drawing = false;
    for (const s of shown) {
      if (s[key] === null) { drawing = false; continue; }
      drawing ? g.lineTo(x(s.t), y(s[key])) : g.moveTo(x(s.t), y(s[key]));
      drawing = true;
    }
    g.stroke(); g.setLineDash([]); g.lineWidth = 1;
  };
  line('heat', '#e03131', [5, 3], 1.5);
  line('cool', '#1971c2', [5, 3], 1.5);
  line('in', '#212529', [], 2);
  // The run's events (script and console lines, mode changes, downloads,
  // under-voltage, faults): a line each, named on the first of three rows
  // where the name clears the names before it; one that clears none goes
  // unnamed (the console has every event). The names drawn, as [left,
  // right, row], are kept on the canvas for the browser test.
  g.font = '11px system-ui, sans-serif';
  const rowEnds = [-Infinity, -Infinity, -Infinity];
  const named = [];
  const shownMarks = marks.filter((m) => m.t >= start && m.t <= end);
  g.strokeStyle = '#9c36b5'; g.setLineDash([3, 3]);
  for (const m of shownMarks) {
    const xx = Math.round(x(m.t)) + 0.5;
    g.beginPath(); g.moveTo(xx, top); g.lineTo(xx, top + plotH); g.stroke();
  }
  g.setLineDash([]);
  // The names over the lines, each on a light patch.
  for (const m of shownMarks) {
    const xx = Math.round(x(m.t)) + 0.5;
    const text = m.text.length > 24 ? `${m.text.slice(0, 23)}\u2026` : m.text;
    const width = g.measureText(text).width;
    const left = xx + 3 + width <= right ? xx + 3 : xx - 3 - width;
    const row = rowEnds.findIndex((rowEnd) => left >= rowEnd + 6);
    if (row < 0) continue;
    rowEnds[row] = left + width;
    named.push([Math.floor(left), Math.ceil(left + width), row]);
    g.fillStyle = '#ffffffcc';
    g.fillRect(left - 1, top + 2 + row * 13, width + 2, 12);
    g.fillStyle = '#9c36b5';
    g.fillText(text, left, top + 8 + row * 13);
  }
  canvas.dataset.eventNames = JSON.stringify(named);
  // Equipment on-times, one strip each.
  GROUPS.forEach(([name, ran, colour], row) => {
    const yy = top + plotH + 6 + row * (P.strip + P.gap);
    g.fillStyle = '#495057'; g.textAlign = 'right'; g.font = '11px system-ui, sans-serif';
    g.fillText(name, P.left - 6, yy + P.strip / 2);
    g.textAlign = 'left';
    g.fillStyle = '#f1f3f5'; g.fillRect(P.left, yy, right - P.left, P.strip);
    g.fillStyle = colour;
    for (let i = 1; i < shown.length; i++) {
      if (ran(shown[i])) g.fillRect(x(shown[i - 1].t), yy, Math.max(1, x(shown[i].t) - x(shown[i - 1].t)), P.strip);
    }
  });
}
new ResizeObserver(() => drawPlot()).observe($('plot'));

// ---- The console: kinds of line, filters, events that stand out ----
const log = $('log');
const LINE_KINDS = [
  [/^[\d:. -]+ house: /, 'status'],
  [/^[\d:. -]+ weather> /, 'weather'],
  [/^[\d:. -]+ web> key /, 'web event key'],
  [/^[\d:. -]+ tstat> .*"(MD|FM) /, 'tstat event mode'],
  [/^[\d:. -]+ tstat> channel (219|22[0-3]) 1 /, 'tstat event mode'],
  [/^[\d:. -]+ relays (?!.*\(all open\))/, 'sim event relay'],
  [/^[\d:. -]+ tstat-sim: (the application|interrupted|quit|\S+ simulated hours done)/, 'sim event end'],
  [/^[\d:. -]+ tstat> (level|channel) /, 'tstat traffic'],
  [/^[\d:. -]+ (tstat|sim|web)> /, null],
];
function addLine(text) {
  const atEnd = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
  const div = document.createElement('div');
  div.textContent = text;
  for (const [pattern, kind] of LINE_KINDS) {
    const m = pattern.exec(text);
    if (!m) continue;
    div.className = kind || m[1];
    break;
  }
  log.append(div);
  while (log.childElementCount > 2000) log.firstElementChild.remove();
  if (atEnd) log.scrollTop = log.scrollHeight;
}
for (const [box, cls] of [['show-status', 'hide-status'], ['show-weather', 'hide-weather'], ['show-traffic', 'hide-traffic']]) {
  const apply = () => {
    const atEnd = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
    log.classList.toggle(cls, !$(box).checked);
    if (atEnd) log.scrollTop = log.scrollHeight;
  };
  $(box).addEventListener('change', apply);
  apply();
}

function showScreen(version) {
  if (Number(version) === 0) return;
  $('screen').src = `/screen.png?v=${version}`;
  $('noscreen').hidden = true;
}

// ---- The run's end ----
function showEnded(why, status) {
  ended = true;
  document.body.classList.add('ended');
  $('link').textContent = 'ended'; $('link').className = 'ended';
  const banner = $('ended');
  const how = why.startsWith('the application ended with status') ? '' : ` (${why})`;
  banner.textContent = status === null
    ? `The run has ended: ${why}. The simulator has stopped; start it again to go on.`
    : `The application has ended with exit status ${status}${how}. The simulator has stopped with it; start it again to go on.`;
  banner.hidden = false;
  if ($('confirm-exit').open) $('confirm-exit').close();
}

// ---- The event stream ----
const events = new EventSource('/events');
events.onopen = () => { $('link').textContent = 'live'; $('link').className = ''; };
events.onerror = () => {
  if (ended) return;
  $('link').textContent = 'simulator not reachable, retrying'; $('link').className = 'bad';
};
events.addEventListener('history', (e) => { samples = JSON.parse(e.data); marks = []; log.textContent = ''; drawPlot(); });
events.addEventListener('sample', (e) => {
  samples.push(JSON.parse(e.data));
  if (samples.length > 720) samples.shift();
  drawPlot();
});
events.addEventListener('console', (e) => addLine(e.data));
events.addEventListener('mark', (e) => {
  marks.push(JSON.parse(e.data));
  if (marks.length > 100) marks.shift();
  drawPlot();
});
events.addEventListener('screen', (e) => showScreen(e.data));
events.addEventListener('state', (e) => {
  const s = JSON.parse(e.data);
  if (!lastState || lastState.screen !== s.screen) showScreen(s.screen);
  showState(s);
});
events.addEventListener('ended', (e) => {
  const end = JSON.parse(e.data);
  events.close();
  showEnded(end.why, end.status);
});
