// An input handed to a reader that only takes a file name. The bytes go to an
// in-memory file (memfd), rewritten for every input and opened by name as
// /proc/self/fd/N; every open starts at offset 0. A second name ending in
// ".mp3" (a symbolic link in a private folder under /tmp, removed at exit)
// reaches the same file for readers that look at the name.
#pragma once
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

class FuzzFile {
public:
    explicit FuzzFile(const char* name) {
        fd_ = memfd_create(name, 0);
        if (fd_ < 0) {
            perror("memfd_create");
            abort();
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }

    const char* path() const { return path_.c_str(); }

    // The same file under a name ending in ".mp3", made on first use.
    const char* mp3Path() {
        if (mp3Path_.empty()) {
            char dir[] = "/tmp/velkor-fuzz-XXXXXX";
            if (!mkdtemp(dir)) {
                perror("mkdtemp");
                abort();
            }
            dir_ = dir;
            mp3Path_ = dir_ + "/input.mp3";
            if (symlink(path_.c_str(), mp3Path_.c_str()) != 0) {
                perror("symlink");
                abort();
            }
            s_cleanup = this;
            atexit([] {
                unlink(s_cleanup->mp3Path_.c_str());
                rmdir(s_cleanup->dir_.c_str());
            });
        }
        return mp3Path_.c_str();
    }

    void write(const uint8_t* data, size_t size) {
        if (ftruncate(fd_, 0) != 0) abort();
        size_t done = 0;
        while (done < size) {
            ssize_t n = pwrite(fd_, data + done, size - done, (off_t)done);
            if (n <= 0) abort();
            done += (size_t)n;
        }
    }

private:
    int fd_ = -1;
    std::string path_, dir_, mp3Path_;
    static inline FuzzFile* s_cleanup = nullptr;
};
