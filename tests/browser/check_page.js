#!/usr/bin/env node
// Opens a page in headless Chromium through the DevTools protocol on a pipe (no
// package needed), checks that every image on it loaded, that nothing was asked
// of a network, that every link within the page lands on an element, that no
// verdict cell wraps and that every summary panel labels each of its gaps with
// text at least 10 px high as shown (its figure's label size times the scale the
// page shows it at), prints the verdict counts and the panels' gaps it shows, and
// saves a screenshot that must not be blank.
// Usage: [WIDTH=px] check_page.js PAGE.html SCREENSHOT.png  (WIDTH: the window's, 1200 unless given)
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const [page, screenshot] = process.argv.slice(2);
const width = Number(process.env.WIDTH || 1200);
const kLegiblePx = 10;
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'gapohm-chromium-'));
// Chromium keeps its singleton socket in a directory of its own under TMPDIR and
// leaves it behind when it is killed: under the profile, it goes with the profile.
const browser = spawn(process.env.CHROMIUM || '/usr/bin/chromium', [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  `--window-size=${width},2000`, `--user-data-dir=${profile}`, '--remote-debugging-pipe', 'about:blank',
], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'], env: { ...process.env, TMPDIR: profile } });
let browserLog = '';
browser.stderr.on('data', (d) => { browserLog += d; });

// Ends Chromium; node exits once it is gone (it writes into its profile to the
// last), removing the profile.
process.on('exit', () => {
  try {
    fs.rmSync(profile, { recursive: true, force: true, maxRetries: 5 });
  } catch (e) {
    console.log(`note: profile ${profile} not removed: ${e.message}`);
  }
});
function finish(code, message) {
  if (process.exitCode !== undefined) return;
  console.log(message);
  process.exitCode = code;
  clearTimeout(timer);
  browser.kill('SIGKILL');
}
const timer = setTimeout(() => finish(1, 'FAIL: no answer from Chromium in 90 s\n' + browserLog.slice(-2000)), 90000);

// Messages are JSON ended by a NUL byte; answers find their request by id,
// events go to every listener.
let nextId = 1, buffer = Buffer.alloc(0);
const waiting = new Map(), listeners = [];
browser.stdio[4].on('data', (chunk) => {
  buffer = Buffer.concat([buffer, chunk]);
  for (let end; (end = buffer.indexOf(0)) >= 0; buffer = buffer.subarray(end + 1)) {
    const m = JSON.parse(buffer.subarray(0, end).toString('utf8'));
    const w = waiting.get(m.id);
    if (w) m.error ? w.reject(new Error(JSON.stringify(m.error))) : w.resolve(m.result);
    else if (m.method) listeners.forEach((l) => l(m));
  }
});
function send(method, params = {}, sessionId) {
  const id = nextId++;
  browser.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + '\0');
  return new Promise((resolve, reject) => waiting.set(id, { resolve, reject }));
}
async function evaluate(expression, sessionId) {
  const { result } = await send('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true }, sessionId);
  return JSON.parse(result.value);
}

// Decoded by the browser itself: pixels of the screenshot not near white.
const countNonWhite = (png) => `new Promise((done) => { const i = new Image(); i.onload = () => {
  const c = document.createElement('canvas'); c.width = i.width; c.height = i.height;
  const g = c.getContext('2d'); g.drawImage(i, 0, 0); const d = g.getImageData(0, 0, i.width, i.height).data;
  let n = 0; for (let k = 0; k < d.length; k += 4) n += d[k] < 240 || d[k + 1] < 240 || d[k + 2] < 240;
  done(JSON.stringify({ count: n, total: i.width * i.height, width: i.width, height: i.height })); };
  i.onerror = () => done('{"count": 0, "total": 1}'); i.src = 'data:image/png;base64,${png}'; })`;

async function main() {
  const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
  const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
  const requested = [];
  let loaded;
  const load = new Promise((resolve) => { loaded = resolve; });
  listeners.push((m) => {
    if (m.method === 'Network.requestWillBeSent') requested.push(m.params.request.url);
    if (m.method === 'Page.loadEventFired' && m.sessionId === sessionId) loaded();
  });
  await send('Network.enable', {}, sessionId);
  await send('Page.enable', {}, sessionId);
  await send('Emulation.setDeviceMetricsOverride', { width, height: 2000, deviceScaleFactor: 1, mobile: false }, sessionId);
  await send('Page.navigate', { url: 'file://' + path.resolve(page) }, sessionId);
  await load;
  const images = await evaluate('JSON.stringify([...document.images].map(i => [i.getAttribute("src"), i.complete && i.naturalWidth > 0]))', sessionId);
  const broken = images.filter(([, ok]) => !ok).map(([src]) => src);
  const remote = requested.filter((u) => !u.startsWith('file:') && !u.startsWith('data:'));
  // Links within the page must land on an element; a verdict cell must stay on one line.
  const layout = await evaluate(`JSON.stringify({
    dangling: [...document.querySelectorAll('a[href^="#"]')].map(a => a.getAttribute('href'))
      .filter(h => !document.getElementById(decodeURIComponent(h.slice(1)))),
    wrapped: [...document.querySelectorAll('td.verdict')].filter(td => {
      const r = document.createRange(); r.selectNodeContents(td);
      return new Set([...r.getClientRects()].map(b => Math.round(b.top))).size > 1; }).map(td => td.textContent),
    counts: Object.fromEntries([...document.querySelectorAll('#verdict-counts tr[data-verdict]')]
      .map(tr => [tr.dataset.verdict, [...tr.querySelectorAll('td.num')].map(c => Number(c.textContent))])),
    listed: document.querySelectorAll('#verdict-list a').length,
    panels: [...document.querySelectorAll('img[data-gaps]')].map(i => ({ id: i.id, gaps: Number(i.dataset.gaps),
      labels: Number(i.dataset.gapLabels), shownPx: Number(i.dataset.labelPx) * i.getBoundingClientRect().width / i.naturalWidth })) })`, sessionId);
  if (Object.keys(layout.counts).length > 0) console.log('verdict counts: ' + JSON.stringify(layout.counts) + '; listed: ' + layout.listed);
  const panels = layout.panels;
  const unlabelled = panels.filter((p) => p.labels !== p.gaps).map((p) => p.id);
  const small = panels.filter((p) => !(p.shownPx >= kLegiblePx)).map((p) => `${p.id} (${p.shownPx.toFixed(1)} px)`);
  if (panels.length > 0) {
    const gaps = {};
    for (const p of panels) { const q = p.id.split('_')[0].replace('fig-', ''); gaps[q] = (gaps[q] || 0) + p.gaps; }
    console.log(`summary panels: ${panels.length}; gaps per quantity: ${JSON.stringify(gaps)}; smallest gap label ` +
                `shown ${Math.min(...panels.map((p) => p.shownPx)).toFixed(1)} px`);
  }
  const shot = await send('Page.captureScreenshot', { format: 'png' }, sessionId);
  fs.writeFileSync(screenshot, Buffer.from(shot.data, 'base64'));
  const pixels = await evaluate(countNonWhite(shot.data), sessionId);
  if (panels.length > 0) {  // the first panel as shown, for a person to look at its labels
    const clip = await evaluate(`(() => { const r = document.getElementById(${JSON.stringify(panels[0].id)})
      .getBoundingClientRect(); return JSON.stringify({ x: r.left + scrollX, y: r.top + scrollY, width: r.width,
      height: r.height, scale: 1 }); })()`, sessionId);
    const panelShot = await send('Page.captureScreenshot', { format: 'png', clip, captureBeyondViewport: true }, sessionId);
    fs.writeFileSync(screenshot.replace(/\.png$/, '') + '-panel.png', Buffer.from(panelShot.data, 'base64'));
  }
  console.log(`images: ${images.length}, broken: ${broken.length}; requests off the file system: ${remote.length}; ` +
              `screenshot ${pixels.width}x${pixels.height}, ${pixels.count} pixels not white`);
  const failures = [];
  if (images.length === 0) failures.push('the page has no image');
  if (broken.length > 0) failures.push('broken images: ' + broken.join(' '));
  if (remote.length > 0) failures.push('network requests: ' + remote.join(' '));
  if (pixels.count < 0.01 * pixels.total) failures.push('the screenshot is blank');
  if (layout.dangling.length > 0) failures.push('links to nothing on the page: ' + layout.dangling.join(' '));
  if (layout.wrapped.length > 0) failures.push('verdict cells on more than one line: ' + layout.wrapped.length);
  if (unlabelled.length > 0) failures.push('panels without a label for every gap: ' + unlabelled.join(' '));
  if (small.length > 0) failures.push(`gap labels under ${kLegiblePx} px as shown: ` + small.join(' '));
  await send('Browser.close').catch(() => {});
  finish(failures.length ? 1 : 0, failures.length ? 'FAIL: ' + failures.join('; ') : 'PASS');
}
main().catch((e) => finish(1, 'FAIL: ' + e.message + '\n' + browserLog.slice(-2000)));
