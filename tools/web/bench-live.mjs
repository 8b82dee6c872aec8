// The whole show live in headless Chromium at the display's rate: from
// Launch! to its end, the pictures drawn, those that came later than 1.5
// display frames after the one before, and screenshots at the given times.
// The show itself presents fewer pictures in some stretches (two display
// frames a pass): the native program's passes in virtual time (its trace)
// are the count to compare with.
// Usage: node tools/web/bench-live.mjs [WEB_BUILD] [SECONDS:FILE.png ...]
// Environment: QUERY, the page's settings (say "scale=1&aa").
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { resolve, join } from 'node:path';

import { ROOT, waitForState, withPage } from '../../tests/web/lib.mjs';

const web = resolve(process.argv[2] || join(ROOT, 'build-web'));
const shots = process.argv.slice(3).map((a) => {
  const colon = a.indexOf(':');
  return { at: Number(a.slice(0, colon)), file: a.slice(colon + 1) };
}).sort((a, b) => a.at - b.at);

await withPage(web, async ({ page, browser }) => {
  console.log(`${await browser.version()}`);
  await waitForState(page, 'dialog', 60000);
  // The display's frame, from the browser's own animation frames.
  const period = await page.evaluate(() => new Promise((done) => {
    const t = [];
    const step = (now) => (t.push(now) < 121 ? requestAnimationFrame(step) : done((t[120] - t[0]) / 120));
    requestAnimationFrame(step);
  }));
  await page.keyboard.press('Tab');
  await page.keyboard.press('Enter');
  const start = Date.now();
  for (const shot of shots) {
    const wait = start + shot.at * 1000 - Date.now();
    if (wait > 0) await new Promise((r) => setTimeout(r, wait));
    await page.screenshot({ path: shot.file });
    console.log(`screenshot at ${((Date.now() - start) / 1000).toFixed(1)} s: ${shot.file}`);
  }
  await waitForState(page, 'ended', 400000);
  const { times, exit } = await page.evaluate(() => ({ times: window.velkorFrames.times, exit: document.body.dataset.exit }));
  let late = 0, longest = 0;
  const spans = [];  // per 10 s of the show: [pictures, late ones, longest gap]
  for (let i = 1; i < times.length; i++) {
    const gap = times[i] - times[i - 1];
    const span = Math.floor((times[i] - times[0]) / 10000);
    spans[span] = spans[span] || [0, 0, 0];
    spans[span][0]++;
    if (gap > 1.5 * period) late++, spans[span][1]++;
    spans[span][2] = Math.max(spans[span][2], gap);
    longest = Math.max(longest, gap);
  }
  spans.forEach((s, i) => console.log(`  ${i * 10}-${i * 10 + 10} s: ${s[0]} pictures, ${s[1]} late, longest gap ${s[2].toFixed(1)} ms`));
  const seconds = (times[times.length - 1] - times[0]) / 1000;
  console.log(`display frame ${period.toFixed(2)} ms; the show ended after ${((Date.now() - start) / 1000).toFixed(1)} s ` +
              `with status ${exit}`);
  const dir = mkdtempSync(join(tmpdir(), 'velkor-bench-'));
  execFileSync(join(process.env.BUILD || join(ROOT, 'build'), 'velkor-capture'), ['--trace', join(dir, 't.txt')],
               { cwd: ROOT, stdio: 'ignore' });
  const passes = Number(readFileSync(join(dir, 't.txt'), 'utf8').trim().split('\n').pop().split(' ')[1]);
  rmSync(dir, { recursive: true });
  console.log(`the native program's passes in virtual time: ${passes}; the page drew ${times.length} ` +
              `(${(100 * times.length / passes).toFixed(1)}%)`);
  console.log(`${times.length} pictures in ${seconds.toFixed(1)} s (${(times.length / seconds).toFixed(1)} a second); ` +
              `${late} came over 1.5 display frames after the one before; the longest gap ${longest.toFixed(1)} ms`);
}, { width: 1280, height: 720, path: `index.html${process.env.QUERY ? '?' + process.env.QUERY : ''}` });
