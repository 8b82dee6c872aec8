// Loads a folder's index.html in headless Chromium, served by tools/web/serve.py,
// and exits 0 when the page loads cross-origin isolated (SharedArrayBuffer
// available) with no console error, uncaught exception or failed request.
//
// Usage: node tests/web/smoke.mjs FOLDER [--state S] [--timeout MS] [--png FILE]
//   --state S   also waits for document.body.dataset.state to become S
//   --png FILE  saves the pixels of <canvas id="screen"> as a PNG
//   --timeout   for the load and the wait (default 30000 ms)

import { canvasPixels, problems, savePng, waitForState, withPage } from './lib.mjs';

function usage(why) {
  console.error(`smoke.mjs: ${why}\nUsage: node tests/web/smoke.mjs FOLDER [--state S] [--timeout MS] [--png FILE]`);
  process.exit(2);
}

const opts = { timeoutMs: 30000 };
let folder = null;
const argv = process.argv.slice(2);
for (let i = 0; i < argv.length; i++) {
  const a = argv[i];
  const value = () => (i + 1 < argv.length ? argv[++i] : usage(`${a} needs a value`));
  if (a === '--state') opts.state = value();
  else if (a === '--png') opts.png = value();
  else if (a === '--timeout') opts.timeoutMs = Number(value());
  else if (a.startsWith('-')) usage(`unknown option ${a}`);
  else if (folder === null) folder = a;
  else usage('one folder only');
}
if (folder === null) usage('no folder given');
if (!(opts.timeoutMs > 0)) usage('--timeout needs a positive number of milliseconds');

const started = Date.now();
const failures = await withPage(folder, async (logs) => {
  const { page, server } = logs;
  const found = [];
  if (opts.state) {
    try {
      const seen = await waitForState(page, opts.state, opts.timeoutMs);
      console.log(`data-state: ${seen.join(' -> ')}`);
    } catch (e) {
      found.push(e.message.split('\n')[0]);
    }
  }
  const isolated = await page.evaluate(() => globalThis.crossOriginIsolated === true &&
    typeof SharedArrayBuffer === 'function');
  if (!isolated) found.push('the page is not cross-origin isolated (no SharedArrayBuffer)');
  if (opts.png) {
    const image = await canvasPixels(page);
    savePng(opts.png, image);
    console.log(`canvas ${image.width}x${image.height} (${image.via}) saved to ${opts.png}`);
  }
  for (const m of logs.console) console.log(`console.${m.type}: ${m.text}`);
  found.push(...problems(logs));
  console.log(`${server.url}index.html: loaded, crossOriginIsolated=${isolated}, ` +
    `${logs.console.length} console messages, ${server.log.length} server log lines`);
  return found;
}, { timeoutMs: opts.timeoutMs }).catch((e) => [String(e && e.message ? e.message : e)]);

for (const f of failures) console.error(`FAIL: ${f}`);
console.log(`${failures.length ? 'FAILED' : 'OK'} in ${Date.now() - started} ms`);
process.exit(failures.length ? 1 : 0);
