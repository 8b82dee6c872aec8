// The renderer's workers: threads made once, which with the calling thread
// share the parts of one job (the bands of rows of a frame) and are idle
// between jobs. They are not show threads: they never sleep on the show's
// clock and live only inside the call that hands them a job.
#pragma once

namespace rm {

using PartFn = void (*)(void* context, int part);

// Runs fn(context, i) for every i in [0, parts) on the workers and the calling
// thread; returns when every part is done. One job at a time.
void runParts(int parts, PartFn fn, void* context);

// Wakes the workers ahead of the jobs of a pass, so that they are looking for
// work when the first comes rather than still waking; they sleep again if none
// comes soon.
void wakeWorkers();

// Threads that draw, the calling one included: VELKOR_THREADS when it holds a
// number from 1 to 64, otherwise one per processor.
int renderThreads();
// Sets that count (1: the calling thread alone); for tests and benchmarks.
void setRenderThreads(int count);

}  // namespace rm
