// The live view's page: frames drawn as they come (the next one is asked for
// when the last one is drawn, so a slow browser skips frames), a histogram of
// the frame on screen, the statistics once a second, and the feature tree.
'use strict';

const viewer = Math.random().toString(36).slice(2) + Date.now().toString(36);
const state = { frame: 0, width: 0, height: 0, channels: 0, histogram: [], drawn: 0 };
window.qrvView = state;  // read by the browser test

const $ = (id) => document.getElementById(id);

async function post(path, body) {
  const response = await fetch(path, { method: 'POST', body: new URLSearchParams(body || {}) });
  return response.headers.get('Content-Type') === 'application/json' ? response.json() : {};
}

function drawHistogram(histogram) {
  const canvas = $('histogram');
  const ctx = canvas.getContext('2d');
  ctx.clearRect(0, 0, canvas.width, canvas.height);
  const peak = Math.max(1, ...histogram);
  const barWidth = canvas.width / histogram.length;
  ctx.fillStyle = '#8ab4f8';
  histogram.forEach((count, value) => {
    const h = Math.round((count / peak) * canvas.height);
    ctx.fillRect(value * barWidth, canvas.height - h, Math.ceil(barWidth), h);
  });
}

function drawFrame(info, bytes) {
  const canvas = $('frame');
  if (canvas.width !== info.width || canvas.height !== info.height) {
    canvas.width = info.width;
    canvas.height = info.height;
  }
  const ctx = canvas.getContext('2d');
  const image = ctx.createImageData(info.width, info.height);
  const out = image.data;
  const histogram = new Array(256).fill(0);
  const pixels = info.width * info.height;
  if (info.channels === 3) {
    for (let p = 0, i = 0, o = 0; p < pixels; ++p, i += 3, o += 4) {
      out[o] = bytes[i]; out[o + 1] = bytes[i + 1]; out[o + 2] = bytes[i + 2]; out[o + 3] = 255;
      // Luma (Rec. 601) of the displayed colour.
      histogram[Math.round(0.299 * bytes[i] + 0.587 * bytes[i + 1] + 0.114 * bytes[i + 2])]++;
    }
  } else {
    for (let p = 0, o = 0; p < pixels; ++p, o += 4) {
      const v = bytes[p];
      out[o] = v; out[o + 1] = v; out[o + 2] = v; out[o + 3] = 255;
      histogram[v]++;
    }
  }
  ctx.putImageData(image, 0, 0);
  drawHistogram(histogram);
  Object.assign(state, { frame: info.frame, width: info.width, height: info.height,
                         channels: info.channels, histogram });
  state.drawn++;
  $('frameinfo').textContent =
    `frame ${info.frame}: ${info.sourceWidth} x ${info.sourceHeight}, ${info.channels === 3 ? 'RGB' : 'grey'}, ` +
    `${info.bits} bits${info.step > 1 ? `, every ${info.step}th pixel shown` : ''}`;
}

async function frameLoop() {
  for (;;) {
    try {
      // Frames wider than the picture's place on screen come decimated.
      const maxWidth = Math.max(320, Math.round($('frame').parentElement.clientWidth * devicePixelRatio));
      const response = await fetch(`api/frame?after=${state.frame}&maxwidth=${maxWidth}&viewer=${viewer}`);
      if (response.status === 200) {
        const info = JSON.parse(response.headers.get('X-Frame'));
        drawFrame(info, new Uint8Array(await response.arrayBuffer()));

      } else if (response.status !== 204) {
        await new Promise((r) => setTimeout(r, 500));
      }
    } catch (e) {
      $('status').textContent = 'the view has ended';
      return;
    }
  }
}

async function statsLoop() {
  for (;;) {
    try {
      const s = await (await fetch(`api/stats?viewer=${viewer}`)).json();
      const failures = s.failures.length
        ? s.failures.map((f) => `${f.count} x ${f.text}`).join('; ') : 'none';
      $('stats').textContent =
        `${s.acquiring ? 'acquiring' : 'stopped'}${s.lost ? ' (camera lost)' : ''}: ` +
        `${s.fps.toFixed(1)} fps, ${s.MBps.toFixed(1)} MB/s, ${s.grabbed} grabbed, ` +
        `${s.shown} shown, ${s.grabbed - s.shown} not shown\nfailures: ${failures}`;
      state.stats = s;
    } catch (e) {
      $('status').textContent = 'the view has ended';
      return;
    }
    await new Promise((r) => setTimeout(r, 1000));
  }
}

// ---- features ---------------------------------------------------------------

const readable = (f) => f.access === 'RO' || f.access === 'RW';
const writable = (f) => f.access === 'WO' || f.access === 'RW';

function showValue(row, reading) {
  const input = row.querySelector('[data-value]');
  row.querySelector('.reason').textContent = reading.error ? `refused: ${reading.error}` : '';
  setInput(input, reading);
}

function setInput(input, reading) {
  if (!input || reading.value === undefined) return;
  if (input.type === 'checkbox') input.checked = !!reading.value;
  else input.value = reading.value;
}

async function writeFeature(row, name, value) {
  const reading = await post('api/set', { name, value });
  showValue(row, reading);
  if (reading.error) {
    // Show what the camera holds now.
    const now = await (await fetch(`api/value?name=${encodeURIComponent(name)}`)).json();
    setInput(row.querySelector('[data-value]'), now);
  }
  row.dataset.result = reading.error ? 'refused' : 'written';
}

function featureRow(f) {
  const row = document.createElement('div');
  row.className = 'feature' + (writable(f) ? '' : ' readonly');
  row.dataset.name = f.name;
  const label = document.createElement('label');
  label.textContent = f.displayName || f.name;
  label.title = `${f.name}: ${f.toolTip || f.description || ''}`;
  row.appendChild(label);
  let input;
  switch (f.type) {
    case 'bool':
      input = document.createElement('input');
      input.type = 'checkbox';
      input.checked = !!f.value;
      input.addEventListener('change', () => writeFeature(row, f.name, input.checked ? 'true' : 'false'));
      break;
    case 'enum':
      input = document.createElement('select');
      for (const e of f.entries || []) {
        const option = document.createElement('option');
        option.value = e.name;
        option.textContent = e.name;
        option.disabled = e.available === false;
        input.appendChild(option);
      }
      input.value = f.value;
      input.addEventListener('change', () => writeFeature(row, f.name, input.value));
      break;
    case 'command':
      input = document.createElement('button');
      input.textContent = 'Execute';
      input.addEventListener('click', () => writeFeature(row, f.name, ''));
      break;
    case 'int':
    case 'float':
      input = document.createElement('input');
      input.type = 'number';
      if (f.min !== undefined) input.min = f.min;
      if (f.max !== undefined) input.max = f.max;
      input.step = f.type === 'int' ? (f.inc || 1) : 'any';
      if (f.value !== undefined) input.value = f.value;
      input.addEventListener('change', () => writeFeature(row, f.name, input.value));
      break;
    default:
      input = document.createElement('input');
      input.type = 'text';
      if (f.value !== undefined) input.value = f.value;
      input.addEventListener('change', () => writeFeature(row, f.name, input.value));
  }
  if (f.type !== 'command') input.dataset.value = '';
  input.disabled = !writable(f);
  row.appendChild(input);
  const range = document.createElement('div');
  range.className = 'range';
  const parts = [];
  if (f.min !== undefined) parts.push(`${f.min} .. ${f.max}`);
  if (f.inc !== undefined) parts.push(`step ${f.inc}`);
  if (f.unit) parts.push(f.unit);
  parts.push(f.access);
  range.textContent = parts.join(', ');
  row.appendChild(range);
  const reason = document.createElement('div');
  reason.className = 'reason';
  if (f.error) reason.textContent = f.error;
  else if (!writable(f) && readable(f)) reason.textContent = '';
  row.appendChild(reason);
  return row;
}

function buildTree(nodes, parent) {
  for (const f of nodes) {
    if (f.type === 'category') {
      const details = document.createElement('details');
      details.open = true;
      details.dataset.name = f.name;
      const summary = document.createElement('summary');
      summary.textContent = f.displayName || f.name;
      details.appendChild(summary);
      buildTree(f.features || [], details);
      parent.appendChild(details);
    } else {
      parent.appendChild(featureRow(f));
    }
  }
}

function filterTree(text) {
  const needle = text.trim().toLowerCase();
  document.querySelectorAll('.feature').forEach((row) => {
    row.classList.toggle('hidden', needle !== '' && !row.dataset.name.toLowerCase().includes(needle));
  });
}

async function main() {
  const info = await (await fetch('api/info')).json();
  $('serial').textContent = info.serial;
  document.title = `qrvacq view ${info.serial}`;
  const tree = await (await fetch('api/features')).json();
  buildTree(Array.isArray(tree) ? tree : (tree.features || []), $('tree'));
  $('search').addEventListener('input', (e) => filterTree(e.target.value));
  const control = async (action) => {
    const r = await post(`api/${action}`);
    $('status').textContent = r.error ? `${action}: ${r.error}` : '';
  };
  $('start').addEventListener('click', () => control('start'));
  $('stop').addEventListener('click', () => control('stop'));
  $('trigger').addEventListener('click', () => control('trigger'));
  $('quit').addEventListener('click', () => control('quit'));
  window.addEventListener('pagehide', () => navigator.sendBeacon(`api/bye?viewer=${viewer}`));
  frameLoop();
  statsLoop();
}

main();
