// The kernel's file reading, as the show and the audio library use it.
#pragma once
#include <cstdio>
#include <string>

// Opens `path` to read without ever waiting on it: a FIFO without a writer
// would hold an ordinary open forever, and a folder would read as a file of
// 2^63 bytes. Anything but a regular file is refused. Null with the reason
// ("it is not a regular file", or the system's) in `why`.
FILE* openRegularFile(const char* path, std::string* why);
