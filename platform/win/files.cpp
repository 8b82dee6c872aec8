#include "platform/win/files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FILE* openRegularFile(const char* path, std::string* why) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = strerror(errno);
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = S_ISREG(st.st_mode) ? strerror(errno) : "it is not a regular file";
        close(fd);
        return nullptr;
    }
    // Reads from here on are ordinary blocking reads of a regular file.
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FILE* file = fdopen(fd, "rb");
    if (!file) {
        *why = strerror(errno);
        close(fd);
    }
    return file;
}
