// The web backend's calls into the page. The show calls them from its own
// thread; each runs on the browser's thread (proxied), where the page's
// object `Module.page` (page.js) does the drawing, the dialog and the sound.
// Only this file reads the program's memory: it may grow, and the views of it
// here are kept current by the runtime.

mergeInto(LibraryManager.library, {
  webSetState__proxy: 'async',
  webSetState__sig: 'vi',
  webSetState: function (state) {
    Module.page.setState(UTF8ToString(state));
  },

  webDesktopSize__proxy: 'sync',
  webDesktopSize__sig: 'i',
  webDesktopSize: function () {
    var size = Module.page.desktopSize();
    return (Math.min(size[0], 32767) << 16) | Math.min(size[1], 65535);
  },

  webFullscreen__proxy: 'async',
  webFullscreen__sig: 'v',
  webFullscreen: function () {
    Module.page.fullscreen();
  },

  // Every animation frame: the newest picture (WebFrame) is drawn, then the
  // frame is counted and the show's thread woken. Without animation frames
  // (a hidden page) a timer counts them, so that the show never waits long.
  webPresentInit__proxy: 'async',
  webPresentInit__sig: 'vi',
  webPresentInit: function (frame) {
    var base = frame >> 2, shown = 0, last = 0, deltas = [];
    function vblank(now) {
      var seq = Atomics.load(HEAP32, base);
      if (seq !== shown) {
        shown = seq;
        var width = HEAP32[base + 1], height = HEAP32[base + 2], pixels = HEAP32[base + 3];
        Module.page.showFrame(HEAPU8.subarray(pixels, pixels + width * height * 4), width, height);
      }
      if (last) {
        // The display's frame: the median of the last 31 intervals.
        deltas.push(now - last);
        if (deltas.length > 31) deltas.shift();
        var sorted = deltas.slice().sort(function (a, b) { return a - b; });
        Atomics.store(HEAP32, base + 5, Math.round(sorted[sorted.length >> 1] * 1000));
      }
      last = now;
      Atomics.add(HEAP32, base + 4, 1);
      Atomics.notify(HEAP32, base + 4);
    }
    function tick(now) {
      vblank(now);
      requestAnimationFrame(tick);
    }
    requestAnimationFrame(tick);
    setInterval(function () {
      var now = performance.now();
      if (now - last > 100) vblank(now);
    }, 100);
  },

  webDialogOpen__proxy: 'sync',
  webDialogOpen__sig: 'viii',
  webDialogOpen: function (caption, width, height) {
    Module.page.dialogOpen(UTF8ToString(caption), width, height);
  },

  // The dialog's 0x00RRGGBB pixels, which the page makes RGBA.
  webDialogShow__proxy: 'sync',
  webDialogShow__sig: 'viii',
  webDialogShow: function (pixels, width, height) {
    Module.page.dialogShow(HEAPU32.subarray(pixels >> 2, (pixels >> 2) + width * height), width, height);
  },

  webDialogClose__proxy: 'sync',
  webDialogClose__sig: 'v',
  webDialogClose: function () {
    Module.page.dialogClose();
  },

  webMessageBox__proxy: 'sync',
  webMessageBox__sig: 'vii',
  webMessageBox: function (caption, text) {
    Module.page.messageBox(UTF8ToString(caption), UTF8ToString(text));
  },

  // The worklet gets the program's memory itself (shared) and where the ring
  // and its counters lie in it.
  webAudioStart__proxy: 'sync',
  webAudioStart__sig: 'iiii',
  webAudioStart: function (ring, frames, state) {
    return Module.page.audioStart(HEAPU8.buffer, ring, frames, state) ? 1 : 0;
  },

  webEnded__proxy: 'sync',
  webEnded__sig: 'vi',
  webEnded: function (code) {
    Module.page.ended(code);
  },
});
