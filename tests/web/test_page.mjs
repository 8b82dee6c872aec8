// The web build in headless Chromium: the show played live from the dialog
// to Escape, a `?shot=` frame against the native headless program's, and a
// broken DATA file. Usage: node tests/web/test_page.mjs WEB_BUILD NATIVE_BUILD
// (folders; NATIVE_BUILD holds velkor-capture). Exits 1 on the first failure.
import { execFileSync } from 'node:child_process';
import { cpSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';

import { ROOT, canvasPixels, decodePng, problems, waitForState, withPage } from './lib.mjs';

const web = resolve(process.argv[2] || join(ROOT, 'build-web'));
const native = resolve(process.argv[3] || join(ROOT, 'build'));
const scratch = mkdtempSync(join(tmpdir(), 'velkor-web-'));
let failed = 0;

function check(ok, what) {
  if (!ok) {
    failed++;
    console.log(`  FAILED: ${what}`);
  }
}

async function test(name, fn) {
  const started = Date.now();
  try {
    await fn();
  } catch (e) {
    failed++;
    console.log(`  FAILED: ${e.stack || e}`);
  }
  console.log(`${name}: ${((Date.now() - started) / 1000).toFixed(1)} s`);
}

const state = (page) => page.evaluate(() => ({ ...document.body.dataset }));
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// The dialog, Tab then Enter (full screen), pictures at the display's rate,
// Escape: the page ends with status 0 and nothing in the console.
await test('LivePlaysFromTheDialogToEscape', () => withPage(web, async (logs) => {
  const { page } = logs;
  await waitForState(page, 'dialog', 60000);
  check(await page.evaluate(() => getComputedStyle(document.getElementById('dialog')).display === 'block'),
        'the dialog is shown');
  await page.keyboard.press('Tab');
  await page.keyboard.press('Enter');
  await waitForState(page, 'playing', 30000);
  await sleep(2000);
  const before = await page.evaluate(() => ({ ...window.velkorFrames, at: performance.now() }));
  await sleep(3000);
  const after = await page.evaluate(() => ({ ...window.velkorFrames, at: performance.now() }));
  const rate = (after.count - before.count) / ((after.at - before.at) / 1000);
  console.log(`  ${rate.toFixed(1)} pictures a second`);
  check(rate > 20, `pictures come at the display's rate (${rate.toFixed(1)} a second)`);
  await page.keyboard.press('Escape');
  await waitForState(page, 'ended', 10000);
  const end = await state(page);
  check(end.exit === '0', `Escape ends with status 0 (data-exit=${end.exit})`);
  const seen = problems(logs);
  check(seen.length === 0, `no error in the console:\n    ${seen.join('\n    ')}`);
}));

// `?shot=T` leaves the frame velkor-capture --shot T writes, pixel for pixel:
// the loading screen, scene 1 and scene 2 with their 2D pictures.
await test('ShotsEqualTheNativeFrames', async () => {
  // At 640 x 480, and at 1440 x 1080 with smooth edges.
  const shots = [{ at: 3 }, { at: 28 }, { at: 52 }, { at: 28, query: '&scale=2.25&aa', args: ['--scale', '2.25', '--aa'] }];
  for (const { at, query = '', args = [] } of shots) {
    const file = join(scratch, `native${at}${args.length ? '-hd' : ''}.png`);
    execFileSync(join(native, 'velkor-capture'), [...args, '--shot', `${at}:${file}`], { cwd: ROOT, stdio: 'inherit' });
    const expected = decodePng(readFileSync(file));
    await withPage(web, async (logs) => {
      const { page } = logs;
      await waitForState(page, 'shot', args.length ? 600000 : 180000);
      const got = await canvasPixels(page);
      check(got.width === expected.width && got.height === expected.height,
            `the shot at ${at} s is ${expected.width} x ${expected.height} (${got.width} x ${got.height})`);
      let differing = 0, most = 0;
      for (let i = 0; i < got.rgba.length && i < expected.rgba.length; i += 4) {
        const apart = Math.max(...[0, 1, 2].map((c) => Math.abs(got.rgba[i + c] - expected.rgba[i + c])));
        differing += apart > 0;
        most = Math.max(most, apart);
      }
      // At 1440 x 1080 one pixel of the 1,555,200 at 28 s is a step apart
      // in one channel (green 146 here, 145 natively), with smooth edges and
      // without; both native pixel loops, GCC and clang give 145. Not yet
      // explained (the C libraries' sin and cos may differ by a unit in the
      // last place): allowed, and no more.
      const allowed = args.length ? 1 : 0;
      check(differing <= allowed && most <= 1,
            `the shot at ${at} s${query} equals the native frame (${differing} pixels differ, by ${most} at most)`);
      check(problems(logs).length === 0, `no error in the console: ${problems(logs).join('; ')}`);
    }, { path: `index.html?shot=${at}${query}` });
  }
});

// The samples of a 16-bit stereo WAV file.
function wavSamples(buf) {
  for (let at = 12; at + 8 <= buf.length;) {
    const id = buf.toString('ascii', at, at + 4), size = buf.readUInt32LE(at + 4);
    if (id === 'data') return new Int16Array(buf.buffer.slice(buf.byteOffset + at + 8, buf.byteOffset + at + 8 + size));
    at += 8 + size + (size & 1);
  }
  throw new Error('no data chunk');
}

// Where `part` (stereo samples) first lies in `whole`, matching its first
// 256 frames exactly; -1 when nowhere.
function find(whole, part, from = 0) {
  const n = 512;
  outer: for (let i = from - (from & 1); i + n <= whole.length; i += 2) {
    for (let j = 0; j < n; j++) if (whole[i + j] !== part[j]) continue outer;
    return i;
  }
  return -1;
}

// The first frame after `from` that is not silence, following at least a
// second of it (where a new sound starts after a pause).
function afterPause(s, from) {
  let zeros = 0;
  for (let i = from - (from & 1); i < s.length; i += 2) {
    if (s[i] === 0 && s[i + 1] === 0) zeros++;
    else if (zeros >= 44100) return i;
    else zeros = 0;
  }
  return -1;
}

// What the AudioWorklet plays equals the native mix: the jingle sample for
// sample, and the music, which starts after the loading screen, within one
// step where mpg123's native synthesis (x86 SIMD) and its portable one in
// wasm round a sample differently.
await test('SoundEqualsTheNativeMix', async () => {
  const file = join(scratch, 'native.wav');
  execFileSync(join(native, 'velkor-capture'), ['--until', '34', '--audio', file], { cwd: ROOT, stdio: 'ignore' });
  const want = wavSamples(readFileSync(file));
  await withPage(web, async (logs) => {
    const { page } = logs;
    await waitForState(page, 'dialog', 60000);
    await page.keyboard.press('Tab');
    await page.keyboard.press('Enter');
    const got = new Int16Array(Buffer.from(await page.evaluate(async (frames) => {
      const samples = await window.velkorRecordAudio(frames);
      const bytes = new Uint8Array(samples.buffer);
      let text = '';
      for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
      return btoa(text);
    }, 40 * 44100), 'base64').buffer);
    // The jingle: where the page's sound starts in the native mix, then 2 s.
    const first = got.findIndex((v) => v !== 0) & ~1;
    const at = find(want, got.subarray(first));
    check(at >= 0, 'the jingle as played is found in the native mix');
    if (at >= 0) {
      let same = 0;
      for (let i = 0; i < 2 * 88200; i++) if (got[first + i] === want[at + i]) same++;
      check(same === 2 * 88200, `the jingle's first 2 s equal the native mix (${2 * 88200 - same} samples differ)`);
    }
    // The music: from its first sound after the loading screen's pause, 3 s.
    const g = afterPause(got, first), w = afterPause(want, at);
    check(g >= 0 && w >= 0, `the music starts in both (at ${g}, ${w})`);
    if (g >= 0 && w >= 0) {
      let off = 0, most = 0;
      for (let i = 0; i < 3 * 88200; i++) {
        const d = Math.abs(got[g + i] - want[w + i]);
        if (d) off++;
        most = Math.max(most, d);
      }
      console.log(`  music: ${off} of ${3 * 88200} samples differ, by ${most} at most`);
      check(most <= 1 && off <= 3 * 88200 / 200, `the music's first 3 s equal the native mix within 1 (${off} differ, by ${most})`);
    }
    check(problems(logs).length === 0, `no error in the console: ${problems(logs).join('; ')}`);
  });
});

// A broken picture in DATA/: its one line, as natively, on the page and in
// the console, and the show goes on.
await test('BrokenDataFileGivesItsLineAndTheShowGoesOn', async () => {
  const copy = join(scratch, 'page');
  // The page alone: no build files, libraries or test tools.
  cpSync(web, copy, { recursive: true, filter: (p) => !/\/(CMakeFiles|deps|node|node_modules)(\/|$)|\.(a|gz|ninja)$/.test(p.slice(web.length)) });
  const noise = Buffer.alloc(3000);
  for (let i = 0; i < noise.length; i++) noise[i] = (i * 7919 + 13) & 255;
  writeFileSync(join(copy, 'DATA', 'back.jpg'), noise);
  const data = join(scratch, 'native');
  cpSync(join(ROOT, 'DATA'), join(data, 'DATA'), { recursive: true });
  writeFileSync(join(data, 'DATA', 'back.jpg'), noise);
  // What the native program says of it (its stderr alone).
  const stderr = (() => {
    try {
      return execFileSync('sh', ['-c', `"${join(native, 'velkor-capture')}" --until 12 2>&1 >/dev/null`], { cwd: data })
        .toString().trim().split('\n');
    } catch (e) {
      return String(e.stdout || '').trim().split('\n');
    }
  })();
  const nativeLine = stderr.find((l) => l.includes('back.jpg')) || '';
  check(nativeLine !== '', `the native program names back.jpg (it said: ${stderr.join(' | ')})`);
  await withPage(copy, async (logs) => {
    const { page } = logs;
    await waitForState(page, 'dialog', 60000);
    await page.keyboard.press('Tab');
    await page.keyboard.press('Enter');
    await waitForState(page, 'playing', 30000);
    await sleep(9000);
    const text = await page.evaluate(() => document.getElementById('messages').textContent);
    check(text.split('\n').includes(nativeLine), `the page shows "${nativeLine}" (it shows: ${JSON.stringify(text)})`);
    check(logs.console.some((m) => m.type === 'error' && m.text === nativeLine), 'the console has the same line');
    const frames = await page.evaluate(() => window.velkorFrames.count);
    await sleep(1000);
    check((await page.evaluate(() => window.velkorFrames.count)) > frames, 'the show goes on');
    check((await state(page)).state === 'playing', 'the show is still playing');
  });
});

rmSync(scratch, { recursive: true, force: true });
console.log(failed ? `${failed} check(s) failed` : 'all web tests passed');
process.exit(failed ? 1 : 0);
