// The shot's frame to the page (0x00RRGGBB words, which it makes RGBA), on
// the browser's thread; the program waits, so the pixels stay as they are.
mergeInto(LibraryManager.library, {
  webShotShow__proxy: 'sync',
  webShotShow__sig: 'viii',
  webShotShow: function (pixels, width, height) {
    Module.page.shot(HEAPU32.subarray(pixels >> 2, (pixels >> 2) + width * height), width, height);
  },

  // The end of the run: the page stops the program's threads (see web.js).
  webShotEnded__proxy: 'sync',
  webShotEnded__sig: 'vi',
  webShotEnded: function (code) {
    Module.page.ended(code);
  },
});
