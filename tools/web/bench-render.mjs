// The 3D pass of the reference scene in WebAssembly against the native one,
// in one run: the native program (build/bench/bench_render_web), the same
// program in node and in headless Chromium (build-web/bench.html) in turns,
// with the processor's and the browser's names, and whether every one drew
// the native pictures bit for bit.
// Usage: node tools/web/bench-render.mjs [TURNS [ROUNDS [PASSES]]]
// Environment: BUILD, WEB_BUILD (default build, build-web).
import { execFileSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { join, resolve } from 'node:path';

import { ROOT, waitForState, withPage } from '../../tests/web/lib.mjs';

const [turns, rounds, passes] = [3, 9, 10].map((d, i) => Number(process.argv[2 + i] || d));
const native = resolve(process.env.BUILD || join(ROOT, 'build'));
const web = resolve(process.env.WEB_BUILD || join(ROOT, 'build-web'));
const model = (readFileSync('/proc/cpuinfo', 'utf8').match(/model name\s*:\s*(.*)/) || [])[1];
console.log(`Processor: ${model}, ${(readFileSync('/proc/cpuinfo', 'utf8').match(/^processor/gm) || []).length} processors`);

const pictures = new Set();
let status = 0;
const keep = (who, text) => {
  console.log(`--- ${who}\n${text.trim()}`);
  pictures.add(text.split('\n').filter((l) => l.startsWith('picture')).join('\n'));
};
for (let turn = 1; turn <= turns; turn++) {
  keep(`turn ${turn}: native`, execFileSync(join(native, 'bench', 'bench_render_web'), [rounds, passes].map(String)).toString());
  keep(`turn ${turn}: WebAssembly in node ${process.version}`,
       // Node 20's own fetch breaks the emscripten 3.1.6 runtime's loading.
       execFileSync(process.execPath, ['--no-experimental-fetch', join(web, 'bench-render-web.js'), String(rounds), String(passes)]).toString());
  await withPage(web, async ({ page, browser }) => {
    await waitForState(page, 'ended', 300000);
    const { text, exit } = await page.evaluate(() => ({ text: document.getElementById('out').textContent,
                                                        exit: document.body.dataset.exit }));
    if (exit !== '0') status = 1;
    keep(`turn ${turn}: WebAssembly in ${await browser.version()}`, text);
  }, { path: `bench.html?rounds=${rounds}&passes=${passes}` });
}
if (pictures.size === 1) console.log('WebAssembly draws the native pictures bit for bit');
else console.log('the pictures differ'), status = 1;
process.exit(status);
