#!/usr/bin/env node
// Opens a page in headless Chromium through the DevTools protocol on a pipe (no
// package needed), checks that every image on it loaded and that nothing was
// asked of a network, and saves a screenshot that must not be blank.
// Usage: check_page.js PAGE.html SCREENSHOT.png
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const zlib = require('zlib');

const [page, screenshot] = process.argv.slice(2);
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'gapohm-chromium-'));
const browser = spawn(chromium, [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--window-size=1200,2000', `--user-data-dir=${profile}`, '--remote-debugging-pipe', 'about:blank',
], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
let browserLog = '';
browser.stderr.on('data', (d) => { browserLog += d; });

// Ends Chromium, waits until it is gone (it writes into its profile to the
// last), removes the profile and exits with `code`.
let finishing = false;
function finish(code, message) {
  if (finishing) return;
  finishing = true;
  if (message) console.log(message);
  const done = () => {
    try {
      fs.rmSync(profile, { recursive: true, force: true, maxRetries: 5 });
    } catch (e) {
      console.log(`note: profile ${profile} not removed: ${e.message}`);
    }
    process.exit(code);
  };
  if (browser.exitCode !== null || browser.signalCode !== null) return done();
  browser.once('exit', done);
  browser.kill('SIGKILL');
}
const timer = setTimeout(() => finish(1, 'FAIL: no answer from Chromium in 90 s\n' + browserLog.slice(-2000)), 90000);

let nextId = 1;
const waiting = new Map();
const listeners = [];
let buffer = Buffer.alloc(0);
browser.stdio[4].on('data', (chunk) => {
  buffer = Buffer.concat([buffer, chunk]);
  for (let end; (end = buffer.indexOf(0)) >= 0;) {
    const message = JSON.parse(buffer.subarray(0, end).toString('utf8'));
    buffer = buffer.subarray(end + 1);
    if (message.id && waiting.has(message.id)) {
      const { resolve, reject } = waiting.get(message.id);
      waiting.delete(message.id);
      if (message.error) reject(new Error(JSON.stringify(message.error))); else resolve(message.result);
    } else if (message.method) {
      listeners.forEach((l) => l(message));
    }
  }
});
function send(method, params = {}, sessionId) {
  const id = nextId++;
  const message = { id, method, params };
  if (sessionId) message.sessionId = sessionId;
  browser.stdio[3].write(JSON.stringify(message) + '\0');
  return new Promise((resolve, reject) => waiting.set(id, { resolve, reject }));
}
function nextEvent(method, sessionId) {
  return new Promise((resolve) => listeners.push((m) => {
    if (m.method === method && m.sessionId === sessionId) resolve(m.params);
  }));
}

// Pixels of an 8-bit RGB or RGBA PNG that are not white.
function nonWhitePixels(png) {
  let at = 8, width = 0, height = 0, channels = 0;
  const data = [];
  while (at < png.length) {
    const length = png.readUInt32BE(at);
    const type = png.toString('latin1', at + 4, at + 8);
    const body = png.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      if (body[8] !== 8 || (body[9] !== 2 && body[9] !== 6)) throw new Error('not 8-bit RGB(A)');
      channels = body[9] === 6 ? 4 : 3;
    } else if (type === 'IDAT') {
      data.push(body);
    }
    at += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(data));
  const stride = width * channels;
  let previous = Buffer.alloc(stride), count = 0;
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const row = Buffer.from(raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1)));
    for (let i = 0; i < stride; ++i) {
      const a = i >= channels ? row[i - channels] : 0, b = previous[i], c = i >= channels ? previous[i - channels] : 0;
      let add = 0;
      if (filter === 1) add = a;
      else if (filter === 2) add = b;
      else if (filter === 3) add = (a + b) >> 1;
      else if (filter === 4) {
        const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
        add = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      }
      row[i] = (row[i] + add) & 0xff;
    }
    for (let x = 0; x < width; ++x) {
      const o = x * channels;
      if (row[o] < 240 || row[o + 1] < 240 || row[o + 2] < 240) ++count;
    }
    previous = row;
  }
  return { count, total: width * height, width, height };
}

async function main() {
  const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
  const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
  const requested = [];
  listeners.push((m) => { if (m.method === 'Network.requestWillBeSent') requested.push(m.params.request.url); });
  await send('Network.enable', {}, sessionId);
  await send('Page.enable', {}, sessionId);
  await send('Emulation.setDeviceMetricsOverride', { width: 1200, height: 2000, deviceScaleFactor: 1, mobile: false }, sessionId);
  const loaded = nextEvent('Page.loadEventFired', sessionId);
  await send('Page.navigate', { url: 'file://' + path.resolve(page) }, sessionId);
  await loaded;
  const { result } = await send('Runtime.evaluate', {
    expression: 'JSON.stringify([...document.images].map(i => [i.getAttribute("src"), i.complete && i.naturalWidth > 0]))',
    returnByValue: true,
  }, sessionId);
  const images = JSON.parse(result.value);
  const broken = images.filter(([, ok]) => !ok).map(([src]) => src);
  const remote = requested.filter((u) => !u.startsWith('file:') && !u.startsWith('data:'));
  const shot = await send('Page.captureScreenshot', { format: 'png' }, sessionId);
  const png = Buffer.from(shot.data, 'base64');
  fs.writeFileSync(screenshot, png);
  const pixels = nonWhitePixels(png);
  console.log(`images: ${images.length}, broken: ${broken.length}; requests off the file system: ${remote.length}; ` +
              `screenshot ${pixels.width}x${pixels.height}, ${pixels.count} pixels not white`);
  const failures = [];
  if (images.length === 0) failures.push('the page has no image');
  if (broken.length > 0) failures.push('broken images: ' + broken.join(' '));
  if (remote.length > 0) failures.push('network requests: ' + remote.join(' '));
  if (pixels.count < 0.01 * pixels.total) failures.push('the screenshot is blank');
  await send('Browser.close').catch(() => {});
  clearTimeout(timer);
  finish(failures.length ? 1 : 0, failures.length ? 'FAIL: ' + failures.join('; ') : 'PASS');
}
main().catch((e) => finish(1, 'FAIL: ' + e.message + '\n' + browserLog.slice(-2000)));
