// Settings from the environment for our platform layers (VELKOR_THREADS,
// VELKOR_SCALE, VELKOR_AA).
#pragma once

// The value of `name` when it is set to a number from `lo` to `hi` (a whole
// number when `whole`), else `fallback`. A value that is set but not
// understood is named in one line with what is used instead (`instead`).
double envSetting(const char* name, double lo, double hi, bool whole, double fallback, const char* instead);
