// The shot's frame (0x00RRGGBB) to the page as RGBA bytes, on the browser's
// thread; the program waits, so the pixels stay as they are meanwhile.
mergeInto(LibraryManager.library, {
  webShotShow__proxy: 'sync',
  webShotShow__sig: 'viii',
  webShotShow: function (pixels, width, height) {
    var words = HEAPU32.subarray(pixels >> 2, (pixels >> 2) + width * height);
    var rgba = new Uint8ClampedArray(width * height * 4);
    for (var i = 0; i < words.length; i++) {
      var p = words[i];
      rgba[i * 4] = p >>> 16 & 255;
      rgba[i * 4 + 1] = p >>> 8 & 255;
      rgba[i * 4 + 2] = p & 255;
      rgba[i * 4 + 3] = 255;
    }
    Module.page.shot(rgba, width, height);
  },

  // The end of the run: the page stops the program's threads (see web.js).
  webShotEnded__proxy: 'sync',
  webShotEnded__sig: 'vi',
  webShotEnded: function (code) {
    Module.page.ended(code);
  },
});
