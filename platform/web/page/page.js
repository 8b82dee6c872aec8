// The page around the show: fetches DATA/ (with a progress bar), starts the
// program, and is its window, screen, dialog, message box and sound (the
// program reaches it through Module.page, see web.js). `?shot=T` starts the
// headless program instead, which plays in virtual time and leaves the frame
// at T seconds on the canvas. The state of things is on <body data-state>.
'use strict';
(function () {
  var params = new URLSearchParams(location.search);
  var body = document.body;
  var screen = document.getElementById('screen');
  var stage = document.getElementById('stage');
  var messages = document.getElementById('messages');
  var context2d = screen.getContext('2d');
  var shotMode = params.has('shot');

  function setState(state) { body.dataset.state = state; }
  function say(line) {
    messages.textContent += line + '\n';
  }

  // --- Loading: the program and DATA/ at once, a bar for DATA/ --------------

  function progress(done, total) {
    context2d.fillStyle = '#000';
    context2d.fillRect(0, 0, screen.width, screen.height);
    context2d.fillStyle = '#303038';
    context2d.fillRect(170, 236, 300, 8);
    context2d.fillStyle = '#c8c8d0';
    context2d.fillRect(170, 236, total ? Math.round(300 * Math.min(done / total, 1)) : 0, 8);
  }

  // Fetches every file the index names; a file that cannot be fetched is left
  // out, and the show says what it says natively of a missing file.
  function fetchData() {
    return fetch('DATA/index.json').then(function (r) {
      if (!r.ok) throw new Error('DATA/index.json: ' + r.status + ' ' + r.statusText);
      return r.json();
    }).then(function (index) {
      var total = 0, done = 0;
      index.files.forEach(function (f) { total += f.size; });
      progress(0, total);
      return Promise.all(index.files.map(function (f) {
        return fetch(f.url).then(function (r) {
          if (!r.ok) throw new Error(r.status + ' ' + r.statusText);
          var reader = r.body.getReader(), parts = [], got = 0;
          function next() {
            return reader.read().then(function (chunk) {
              if (chunk.done) return;
              parts.push(chunk.value);
              got += chunk.value.length;
              done += chunk.value.length;
              progress(done, total);
              return next();
            });
          }
          return next().then(function () {
            var bytes = new Uint8Array(got), at = 0;
            parts.forEach(function (p) { bytes.set(p, at); at += p.length; });
            return { path: f.path, bytes: bytes };
          });
        }).catch(function (e) {
          console.warn(f.url + ': not fetched (' + e.message + ')');
          done += f.size;
          return null;
        });
      }));
    }).catch(function (e) {
      console.warn('DATA: ' + e.message);
      return [];
    });
  }

  function writeFiles(files) {
    files.forEach(function (f) {
      if (!f) return;
      var parts = f.path.split('/');
      for (var i = 1; i < parts.length; i++) {
        var dir = parts.slice(0, i).join('/') || '/';
        try { Module.FS.mkdir(dir); } catch (e) { /* there already */ }
      }
      Module.FS.writeFile(f.path, f.bytes);
    });
  }

  // --- Input: keys and the dialog's mouse -------------------------------------

  var keys = { Tab: 9, Enter: 13, Escape: 27, ' ': 32 };
  function virtualKey(e) {
    if (keys[e.key] !== undefined) return keys[e.key];
    if (/^[a-z0-9]$/i.test(e.key)) return e.key.toUpperCase().charCodeAt(0);
    return 0;
  }
  function send(kind, a, b) { if (Module._webInput) Module._webInput(kind, a, b); }
  var kKey = 1, kPress = 2, kMove = 3, kRelease = 4, kClose = 5, kBoxClosed = 6;

  // --- The dialog's window -----------------------------------------------------

  var dialog = document.getElementById('dialog');
  var dialogCanvas = dialog.querySelector('canvas');
  var held = false;
  function dialogPoint(e) {
    var r = dialogCanvas.getBoundingClientRect();
    return [Math.floor((e.clientX - r.left) * dialogCanvas.width / r.width),
            Math.floor((e.clientY - r.top) * dialogCanvas.height / r.height)];
  }
  dialogCanvas.addEventListener('pointerdown', function (e) {
    if (e.button !== 0) return;
    startAudio();
    dialogCanvas.setPointerCapture(e.pointerId);
    held = true;
    var p = dialogPoint(e);
    send(kPress, p[0], p[1]);
    e.preventDefault();
  });
  dialogCanvas.addEventListener('pointermove', function (e) {
    if (!held) return;
    var p = dialogPoint(e);
    send(kMove, p[0], p[1]);
  });
  dialogCanvas.addEventListener('pointerup', function (e) {
    if (!held || e.button !== 0) return;
    held = false;
    var p = dialogPoint(e);
    send(kRelease, p[0], p[1]);
  });
  dialog.querySelector('.caption button').addEventListener('click', function () { send(kClose, 0, 0); });

  // --- The message box ------------------------------------------------------------

  var box = document.getElementById('box');
  box.querySelector('button').addEventListener('click', function () {
    box.style.display = 'none';
    send(kBoxClosed, 0, 0);
  });

  // --- Sound: an AudioWorklet, made on the viewer's first key or click -----------

  var audio = null;  // { context, node (a promise) }
  function startAudio() {
    if (audio || shotMode || !window.AudioContext || !window.AudioWorkletNode) return;
    try {
      var context = new AudioContext({ sampleRate: 44100, latencyHint: 'interactive' });
      audio = {
        context: context,
        node: context.audioWorklet.addModule('audio-worklet.js').then(function () {
          var node = new AudioWorkletNode(context, 'velkor-output', { numberOfInputs: 0, outputChannelCount: [2] });
          node.connect(context.destination);
          return node;
        }),
      };
      audio.node.catch(function (e) { console.warn('audio: ' + e.message); });
      context.resume();
    } catch (e) {
      console.warn('audio: ' + e.message);
      audio = null;
    }
  }
  // For tests: the first `frames` frames the worklet plays, as 16-bit samples.
  window.velkorRecordAudio = function (frames) {
    startAudio();
    return audio.node.then(function (node) {
      return new Promise(function (resolve) {
        node.port.onmessage = function (e) { if (e.data.recorded) resolve(e.data.recorded); };
        node.port.postMessage({ record: frames });
      });
    });
  };

  document.addEventListener('keydown', function (e) {
    var vk = virtualKey(e);
    if (!vk) return;
    e.preventDefault();
    startAudio();
    send(kKey, vk, e.repeat ? 1 : 0);
  });

  // --- What the program asks of the page (web.js) ------------------------------------

  // 0x00RRGGBB words (a view of the program's memory) as RGBA bytes.
  function rgbaOf(words) {
    var rgba = new Uint8ClampedArray(words.length * 4);
    for (var i = 0; i < words.length; i++) {
      var p = words[i];
      rgba[i * 4] = p >>> 16 & 255;
      rgba[i * 4 + 1] = p >>> 8 & 255;
      rgba[i * 4 + 2] = p & 255;
      rgba[i * 4 + 3] = 255;
    }
    return rgba;
  }

  // For tests and benchmarks: how many pictures the page has drawn, and when
  // (ms, the page's clock).
  window.velkorFrames = { count: 0, last: 0, times: [] };
  var image = null;
  function draw(bytes, width, height) {
    var f = window.velkorFrames;
    f.count++;
    f.last = performance.now();
    f.times.push(f.last);
    if (screen.width !== width || screen.height !== height) {
      screen.width = width;
      screen.height = height;
    }
    if (!image || image.width !== width || image.height !== height) image = new ImageData(width, height);
    image.data.set(bytes);
    context2d.putImageData(image, 0, 0);
  }

  var page = {
    setState: setState,
    desktopSize: function () {
      var ratio = window.devicePixelRatio || 1;
      return [Math.round(window.screen.width * ratio), Math.round(window.screen.height * ratio)];
    },
    fullscreen: function () {
      if (!stage.requestFullscreen) return say('The browser has no full screen; the show plays in the page.');
      stage.requestFullscreen({ navigationUI: 'hide' }).catch(function () {
        say('The browser did not allow full screen; the show plays in the page.');
      });
    },
    showFrame: draw,
    dialogOpen: function (caption, width, height) {
      var ratio = window.devicePixelRatio || 1;
      dialog.querySelector('.caption span').textContent = caption;
      dialogCanvas.width = width;
      dialogCanvas.height = height;
      dialogCanvas.style.width = width / ratio + 'px';
      dialogCanvas.style.height = height / ratio + 'px';
      dialog.style.display = 'block';
    },
    dialogShow: function (words, width, height) {
      dialogCanvas.getContext('2d').putImageData(new ImageData(rgbaOf(words), width, height), 0, 0);
    },
    dialogClose: function () { dialog.style.display = 'none'; held = false; },
    messageBox: function (caption, text) {
      box.querySelector('h2').textContent = caption;
      box.querySelector('p').textContent = text;
      box.style.display = 'block';
      box.querySelector('button').focus();
    },
    audioStart: function (memory, ring, frames, state) {
      startAudio();
      if (!audio) return false;
      var counters = new Int32Array(memory, state, 4);
      var latency = (audio.context.baseLatency || 0) + (audio.context.outputLatency || 0);
      Atomics.store(counters, 2, Math.round(latency * 44100));
      audio.node.then(function (node) {
        node.port.postMessage({ memory: memory, ring: ring, frames: frames, state: state });
      }, function () {});
      return true;
    },
    // The program has ended: its threads are stopped where they are, the
    // one that ended it among them (nothing of it runs after its end).
    ended: function (code) {
      Module.PThread.runningWorkers.concat(Module.PThread.unusedWorkers).forEach(function (w) { w.terminate(); });
      body.dataset.exit = String(code);
      if (body.dataset.state !== 'shot') setState('ended');
      if (document.fullscreenElement) document.exitFullscreen().catch(function () {});
      if (audio) audio.context.close();
    },
    shot: function (words, width, height) {
      draw(rgbaOf(words), width, height);
      var ratio = window.devicePixelRatio || 1;
      screen.style.width = width / ratio + 'px';
      screen.style.height = height / ratio + 'px';
      stage.style.width = screen.style.width;
      stage.style.height = screen.style.height;
      setState('shot');
    },
  };

  // --- Starting ---------------------------------------------------------------------

  if (!window.crossOriginIsolated) {
    say('This page needs cross-origin isolation for its threads: serve it with the headers `make serve-web` sends.');
    return;
  }

  // Settings as natively: ?scale=N and ?aa as VELKOR_SCALE and VELKOR_AA for
  // the program, or as velkor-capture's options for a shot.
  var args = [];
  if (shotMode) {
    args.push('--shot', params.get('shot'));
    if (params.has('windowed')) args.push('--windowed');
    if (params.has('scale')) args.push('--scale', params.get('scale'));
    if (params.has('aa')) args.push('--aa');
  }
  var data = fetchData();
  window.Module = {
    page: page,
    arguments: args,
    print: function (line) { console.log(line); },
    printErr: function (line) { console.error(line); say(line); },
    preRun: [function () {
      if (!shotMode) {
        if (params.has('scale')) Module.ENV.VELKOR_SCALE = params.get('scale');
        if (params.has('aa')) Module.ENV.VELKOR_AA = '1';
        if (params.has('threads')) Module.ENV.VELKOR_THREADS = params.get('threads');
      }
    }],
    onRuntimeInitialized: function () {
      data.then(function (files) {
        writeFiles(files);
        context2d.fillStyle = '#000';
        context2d.fillRect(0, 0, screen.width, screen.height);
        Module.callMain(args);
      });
    },
    // The program's end is the page's last state, not an error to throw;
    // its threads go with it.
    quit: function (code) {
      if (body.dataset.state !== 'ended' && body.dataset.state !== 'shot') page.ended(code);
      // Stopped where they are: nothing of the program runs after its end.
      //Module.PThread.runningWorkers.concat(Module.PThread.unusedWorkers).forEach(function (w) { w.terminate(); });
    },
    onExit: function (code) {
      if (body.dataset.state !== 'ended' && body.dataset.state !== 'shot') page.ended(code);
    },
  };
  var script = document.createElement('script');
  script.src = shotMode ? 'velkor-shot.js' : 'velkor-web.js';
  script.onerror = function () { say(script.src + ' could not be loaded: build the page with `make web`.'); };
  document.body.appendChild(script);
})();
