// The show's sound output: plays 16-bit stereo frames from the ring the
// program's mixer fills (in the program's shared memory), 128 at a turn,
// and counts what it took. Counters (32-bit words): 0 frames written, 1 frames
// read, 2 the browser's latency after us (set by the page), 3 set to 1 once
// playing. When the ring runs dry the rest of the turn is silence.
'use strict';
class VelkorOutput extends AudioWorkletProcessor {
  constructor() {
    super();
    this.samples = null;
    this.record = null;
    this.port.onmessage = (e) => {
      const d = e.data;
      if (d.memory) {
        this.samples = new Int16Array(d.memory, d.ring, d.frames * 2);
        this.counters = new Int32Array(d.memory, d.state, 4);
        this.mask = d.frames - 1;
      }
      if (d.record) {
        this.record = new Int16Array(d.record * 2);
        this.recorded = 0;
      }
    };
  }

  process(inputs, outputs) {
    const left = outputs[0][0], right = outputs[0][1] || outputs[0][0];
    const n = left.length;
    if (!this.samples) {
      left.fill(0);
      right.fill(0);
      return true;
    }
    const c = this.counters;
    Atomics.store(c, 3, 1);
    const read = Atomics.load(c, 1);
    const available = Math.max(0, (Atomics.load(c, 0) - read) | 0);
    const take = Math.min(available, n);
    for (let i = 0; i < take; i++) {
      const slot = ((read + i) & this.mask) * 2;
      const l = this.samples[slot], r = this.samples[slot + 1];
      left[i] = l / 32768;
      right[i] = r / 32768;
      if (this.record && this.recorded < this.record.length) {
        this.record[this.recorded++] = l;
        this.record[this.recorded++] = r;
      }
    }
    left.fill(0, take);
    right.fill(0, take);
    Atomics.store(c, 1, (read + take) | 0);
    if (this.record && this.recorded === this.record.length) {
      this.port.postMessage({ recorded: this.record });
      this.record = null;
    }
    return true;
  }
}
registerProcessor('velkor-output', VelkorOutput);
