// Harness of the browser tests: serves a folder with tools/web/serve.py, drives
// Debian's Chromium headless through puppeteer-core, and reads the page's
// state, console and canvas. Node's standard library apart from puppeteer-core,
// which tools/web/install-browser.sh installs (in build-web/ by default).

import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import zlib from 'node:zlib';

const HERE = dirname(fileURLToPath(import.meta.url));
export const ROOT = resolve(HERE, '../..');
export const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';

export const CHROMIUM_FLAGS = [
  '--headless=new',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
  '--autoplay-policy=no-user-gesture-required',
];

// puppeteer-core is looked up in WEB_NODE_DIR, then build-web/, then beside
// this file (ES module imports ignore NODE_PATH, hence createRequire).
let puppeteerModule = null;
export function puppeteer() {
  if (puppeteerModule) return puppeteerModule;
  const dirs = [process.env.WEB_NODE_DIR, join(ROOT, 'build-web'), HERE].filter(Boolean);
  for (const dir of dirs) {
    try {
      puppeteerModule = createRequire(join(resolve(dir), 'index.js'))('puppeteer-core');
      return puppeteerModule;
    } catch (e) {
      if (e.code !== 'MODULE_NOT_FOUND') throw e;
    }
  }
  throw new Error(`puppeteer-core not found in ${dirs.join(', ')}: run tools/web/install-browser.sh`);
}

// Children still running when node exits are ended with it.
const children = new Set();
process.on('exit', () => {
  for (const child of children) child.kill('SIGTERM');
});

// Starts tools/web/serve.py on `folder` with a port the kernel picks (port 0),
// read back from the line the server prints. Resolves to
// { url, port, log, close }: log holds the server's stderr lines (requests).
export function startServer(folder, { timeoutMs = 10000 } = {}) {
  const child = spawn('python3', [join(ROOT, 'tools/web/serve.py'), '--port', '0', resolve(folder)], {
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  children.add(child);
  const log = [];
  let errText = '';
  child.stderr.setEncoding('utf8');
  child.stderr.on('data', (chunk) => {
    errText += chunk;
    const lines = errText.split('\n');
    errText = lines.pop();
    log.push(...lines);
  });
  const exited = new Promise((res) => child.once('exit', (code, signal) => res({ code, signal })));
  const close = async () => {
    if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
    await exited;
    children.delete(child);
  };
  return new Promise((res, rej) => {
    let out = '';
    let settled = false;
    const fail = (why) => {
      if (settled) return;
      settled = true;
      clearTimeout(timer);
      close().then(() => rej(new Error(`serve.py: ${why}${log.length ? '\n' + log.join('\n') : ''}${errText}`)));
    };
    const timer = setTimeout(() => fail(`no "Serving" line within ${timeoutMs} ms`), timeoutMs);
    child.stdout.setEncoding('utf8');
    child.stdout.on('data', (chunk) => {
      out += chunk;
      const m = out.match(/^Serving .* at (http:\/\/127\.0\.0\.1:(\d+)\/)$/m);
      if (m && !settled) {
        settled = true;
        clearTimeout(timer);
        res({ url: m[1], port: Number(m[2]), log, close });
      }
    });
    exited.then(({ code, signal }) => fail(`exited (${signal || code}) before serving`));
  });
}

// Launches Chromium headless with a fresh profile folder, removed by close().
// Extra flags go after the fixed ones. Resolves to { browser, userDataDir, close }.
export async function launchBrowser({ args = [], timeoutMs = 30000 } = {}) {
  const userDataDir = mkdtempSync(join(tmpdir(), 'velkor-chromium-'));
  let browser;
  try {
    browser = await puppeteer().launch({
      executablePath: CHROMIUM,
      // Only these flags (puppeteer's own defaults would mute audio, among
      // others); the DevTools protocol runs over a pipe, not a TCP port.
      ignoreDefaultArgs: true,
      args: [...CHROMIUM_FLAGS, `--user-data-dir=${userDataDir}`, ...args, 'about:blank'],
      pipe: true,
      timeout: timeoutMs,
    });
  } catch (e) {
    rmSync(userDataDir, { recursive: true, force: true });
    throw e;
  }
  const close = async () => {
    try {
      await browser.close();
    } finally {
      rmSync(userDataDir, { recursive: true, force: true });
    }
  };
  return { browser, userDataDir, close };
}

// Records the values body's data-state takes, from the document's start, in
// window.__velkorStates (the page changes it as it goes).
function recordStates() {
  const seen = [];
  Object.defineProperty(window, '__velkorStates', { value: seen });
  let last;
  const note = () => {
    const s = document.body ? document.body.dataset.state : undefined;
    if (s !== last) {
      last = s;
      if (s !== undefined) seen.push(s);
    }
  };
  new MutationObserver(note).observe(document, {
    subtree: true, childList: true, attributes: true, attributeFilter: ['data-state'],
  });
  note();
}

const pageLogs = new WeakMap();

// Opens url in a new page of browser, recording from the start what the page
// reports. Resolves to { page, console, errors, failedRequests }: console
// holds { type, text, url } of each console message (url: where it came
// from), errors the uncaught exceptions' messages, failedRequests { url, why }
// of the requests that failed or got a status >= 400.
export async function openPage(browser, url, {
  width = 1280, height = 720, timeoutMs = 30000, waitUntil = 'load',
} = {}) {
  const page = await browser.newPage();
  const logs = { page, console: [], errors: [], failedRequests: [] };
  pageLogs.set(page, logs);
  page.on('console', (m) => logs.console.push({ type: m.type(), text: m.text(), url: m.location()?.url || '' }));
  page.on('pageerror', (e) => logs.errors.push(e && e.message ? e.message : String(e)));
  page.on('requestfailed', (r) => {
    // A request answered >= 400 is noted once, by its status, below.
    if (!(r.response()?.status() >= 400)) {
      logs.failedRequests.push({ url: r.url(), why: r.failure()?.errorText || 'failed' });
    }
  });
  page.on('response', (r) => {
    if (r.status() >= 400) logs.failedRequests.push({ url: r.url(), why: `HTTP ${r.status()}` });
  });
  await page.setViewport({ width, height });
  await page.evaluateOnNewDocument(recordStates);
  await page.goto(url, { waitUntil, timeout: timeoutMs });
  return logs;
}

// The console messages of type "error", the uncaught exceptions and the failed
// requests of a page opened by openPage, as lines. The browser's own request
// for /favicon.ico, which no page asked for, is left out.
const favicon = (url) => /^https?:\/\/[^/]+\/favicon\.ico$/.test(url);
export function problems(logs) {
  return [
    ...logs.console.filter((m) => m.type === 'error' && !favicon(m.url))
      .map((m) => `console error: ${m.text}${m.url ? ` (${m.url})` : ''}`),
    ...logs.errors.map((e) => `page error: ${e}`),
    ...logs.failedRequests.filter((r) => !favicon(r.url)).map((r) => `request: ${r.url}: ${r.why}`),
  ];
}

// Serves folder, launches the browser and opens folder's `path` (index.html by
// default), runs fn(logs) and always cleans up (page, browser, profile, server).
export async function withPage(folder, fn, { path = 'index.html', ...options } = {}) {
  const server = await startServer(folder);
  let chromium;
  try {
    chromium = await launchBrowser(options);
    const logs = await openPage(chromium.browser, server.url + path, options);
    return await fn({ ...logs, server, browser: chromium.browser });
  } finally {
    try {
      if (chromium) await chromium.close();
    } finally {
      await server.close();
    }
  }
}

// Waits until document.body.dataset.state === state. Fails after timeoutMs
// with the states seen so far and what the page reported.
export async function waitForState(page, state, timeoutMs = 30000) {
  const deadline = Date.now() + timeoutMs;
  let seen = [];
  for (;;) {
    const now = await page.evaluate(() => ({
      state: document.body ? document.body.dataset.state : undefined,
      seen: window.__velkorStates ? [...window.__velkorStates] : [],
    }));
    seen = now.seen;
    if (now.state === state) return seen;
    if (Date.now() >= deadline) break;
    await new Promise((r) => setTimeout(r, 50));
  }
  const logs = pageLogs.get(page);
  const extra = logs ? problems(logs).slice(-10) : [];
  throw new Error(`data-state never became "${state}" in ${timeoutMs} ms; states seen: ` +
    `${seen.length ? seen.map((s) => JSON.stringify(s)).join(' -> ') : '(none)'}` +
    (extra.length ? '\n' + extra.join('\n') : ''));
}

// The pixels of the canvas (default <canvas id="screen">) as
// { width, height, rgba, via }. The canvas is drawn onto a 2D canvas of its
// own size inside an animation frame, which reads a 2D or a WebGL canvas
// without creating a context on it, and a WebGL drawing buffer before the
// frame is presented and cleared. A canvas that cannot be read that way (its
// control moved to an OffscreenCanvas) is captured through the DevTools
// protocol instead, as composited; { via: 'cdp' } asks for that capture.
export async function canvasPixels(page, { selector = 'canvas#screen', via = 'auto' } = {}) {
  if (via !== 'cdp') {
    const got = await page.evaluate(async (sel) => {
      const canvas = document.querySelector(sel);
      if (!canvas) return { missing: true };
      await new Promise((r) => requestAnimationFrame(r));
      const { width, height } = canvas;
      if (!width || !height) return { width, height, base64: '' };
      const copy = document.createElement('canvas');
      copy.width = width;
      copy.height = height;
      const ctx = copy.getContext('2d', { willReadFrequently: true });
      try {
        ctx.drawImage(canvas, 0, 0);
      } catch (e) {
        return { unreadable: String(e) };
      }
      const data = ctx.getImageData(0, 0, width, height).data;
      let bin = '';
      for (let i = 0; i < data.length; i += 0x8000) {
        bin += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
      }
      return { width, height, base64: btoa(bin) };
    }, selector);
    if (got.missing) throw new Error(`no ${selector} in the page`);
    if (!got.unreadable) {
      return { width: got.width, height: got.height, rgba: Buffer.from(got.base64, 'base64'), via: 'drawImage' };
    }
  }
  const box = await page.evaluate((sel) => {
    const canvas = document.querySelector(sel);
    if (!canvas) return null;
    canvas.scrollIntoView();
    const r = canvas.getBoundingClientRect();
    return { x: r.left, y: r.top, width: r.width, height: r.height, pixels: canvas.width };
  }, selector);
  if (!box) throw new Error(`no ${selector} in the page`);
  if (!box.width || !box.height) throw new Error(`${selector} is not laid out`);
  const png = await page.screenshot({
    type: 'png',
    clip: { x: box.x, y: box.y, width: box.width, height: box.height, scale: box.pixels / box.width },
  });
  return { ...decodePng(Buffer.from(png)), via: 'cdp' };
}

// CRC-32 of PNG chunks (node's zlib has crc32 only from node 22).
const CRC_TABLE = (() => {
  const t = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    t[n] = c >>> 0;
  }
  return t;
})();

export function crc32(buf, crc = 0) {
  let c = ~crc >>> 0;
  for (let i = 0; i < buf.length; i++) c = CRC_TABLE[(c ^ buf[i]) & 0xff] ^ (c >>> 8);
  return ~c >>> 0;
}

const PNG_SIGNATURE = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);

function chunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'latin1');
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(data, crc32(head.subarray(4))), 0);
  return Buffer.concat([head, data, crc]);
}

// An 8-bit RGBA PNG of the pixels: each row with filter byte 0 (none).
export function encodePng({ width, height, rgba }) {
  if (!(width > 0 && height > 0) || rgba.length !== width * height * 4) {
    throw new Error(`encodePng: ${rgba.length} bytes are not ${width}x${height} RGBA`);
  }
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr[8] = 8; // bits per sample
  ihdr[9] = 6; // RGBA
  // ihdr[10..12]: deflate, adaptive filtering, no interlace (all 0)
  const stride = width * 4;
  const raw = Buffer.alloc((stride + 1) * height);
  for (let y = 0; y < height; y++) {
    Buffer.from(rgba.buffer, rgba.byteOffset + y * stride, stride).copy(raw, y * (stride + 1) + 1);
  }
  return Buffer.concat([
    PNG_SIGNATURE,
    chunk('IHDR', ihdr),
    chunk('IDAT', zlib.deflateSync(raw)),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

export function savePng(path, image) {
  writeFileSync(path, encodePng(image));
}

// Decodes an 8-bit, non-interlaced PNG (grey, grey+alpha, RGB or RGBA, as
// Chromium's screenshots are) to { width, height, rgba }, checking each
// chunk's CRC.
export function decodePng(buf) {
  if (buf.length < 8 || !buf.subarray(0, 8).equals(PNG_SIGNATURE)) throw new Error('decodePng: not a PNG');
  let pos = 8;
  let ihdr = null;
  const idat = [];
  for (;;) {
    if (pos + 12 > buf.length) throw new Error('decodePng: truncated');
    const len = buf.readUInt32BE(pos);
    const type = buf.toString('latin1', pos + 4, pos + 8);
    const data = buf.subarray(pos + 8, pos + 8 + len);
    if (pos + 12 + len > buf.length) throw new Error(`decodePng: ${type} chunk truncated`);
    if (crc32(buf.subarray(pos + 4, pos + 8 + len)) !== buf.readUInt32BE(pos + 8 + len)) {
      throw new Error(`decodePng: bad CRC in ${type}`);
    }
    pos += 12 + len;
    if (type === 'IHDR') ihdr = data;
    else if (type === 'IDAT') idat.push(data);
    else if (type === 'IEND') break;
  }
  if (!ihdr) throw new Error('decodePng: no IHDR');
  const width = ihdr.readUInt32BE(0);
  const height = ihdr.readUInt32BE(4);
  const [depth, colour, , , interlace] = ihdr.subarray(8, 13);
  const channels = { 0: 1, 2: 3, 4: 2, 6: 4 }[colour];
  if (depth !== 8 || !channels || interlace !== 0) {
    throw new Error(`decodePng: depth ${depth}, colour type ${colour}, interlace ${interlace} not handled`);
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const stride = width * channels;
  if (raw.length < (stride + 1) * height) throw new Error('decodePng: image data too short');
  const px = Buffer.alloc(stride * height);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    const src = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    const row = px.subarray(y * stride, (y + 1) * stride);
    const up = y ? px.subarray((y - 1) * stride, y * stride) : null;
    for (let i = 0; i < stride; i++) {
      const a = i >= channels ? row[i - channels] : 0;
      const b = up ? up[i] : 0;
      const c = up && i >= channels ? up[i - channels] : 0;
      let v;
      switch (filter) {
        case 0: v = 0; break;
        case 1: v = a; break;
        case 2: v = b; break;
        case 3: v = (a + b) >> 1; break;
        case 4: {
          const p = a + b - c;
          const pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
          v = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
          break;
        }
        default: throw new Error(`decodePng: filter ${filter} in row ${y}`);
      }
      row[i] = (src[i] + v) & 0xff;
    }
  }
  const rgba = Buffer.alloc(width * height * 4);
  for (let i = 0, j = 0; i < width * height; i++, j += channels) {
    const g = px[j];
    if (channels === 1) rgba.set([g, g, g, 255], i * 4);
    else if (channels === 2) rgba.set([g, g, g, px[j + 1]], i * 4);
    else if (channels === 3) rgba.set([px[j], px[j + 1], px[j + 2], 255], i * 4);
    else rgba.set(px.subarray(j, j + 4), i * 4);
  }
  return { width, height, rgba };
}
