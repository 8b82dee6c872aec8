// Output files of the headless backend (see VtOutput in virtual.h), and the
// pictures of the virtual display as PNG files (shots, test output).
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/virtual/vclock.h"
#include "platform/virtual/virtual.h"

namespace {

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

std::string vtOutputTarget(const std::string& path) {
    if (char* real = realpath(path.c_str(), nullptr)) {
        std::string resolved = real;
        free(real);
        return resolved;
    }
    // Not there yet: a new name, or a link (of links) to a file not made yet.
    std::string name = path;
    struct stat st;
    char link[PATH_MAX];
    for (int hops = 0; hops < 40 && lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode); hops++) {
        ssize_t n = readlink(name.c_str(), link, sizeof link);
        if (n <= 0 || n == (ssize_t)sizeof link) break;
        std::string to(link, (size_t)n);
        name = to[0] == '/' ? to : folderOf(name) + "/" + to;
    }
    char* folder = realpath(folderOf(name).c_str(), nullptr);
    if (!folder) return name;
    std::string resolved = std::string(folder) + (strcmp(folder, "/") == 0 ? "" : "/") + nameOf(name);
    free(folder);
    return resolved;
}

bool vtOutputOpen(const std::string& path, VtOutput& out, std::string& why) {
    out = VtOutput{};
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) return why = "it is a folder", false;
        // A pipe with no reader is an error rather than a wait.
        out.fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (out.fd < 0) return why = errno == ENXIO && S_ISFIFO(st.st_mode) ? "nothing reads from it" : strerror(errno), false;
        fcntl(out.fd, F_SETFL, fcntl(out.fd, F_GETFL) & ~O_NONBLOCK);
        return true;
    }
    out.target = vtOutputTarget(path);
    // ".NAME.XXXXXX" beside the target, created exclusively with the mode of
    // any new file (0666 less the umask). The name is cut so that the
    // temporary one stays within the file system's limit.
    const std::string stem = folderOf(out.target) + "/." + nameOf(out.target).substr(0, 100) + ".";
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; attempt++) {
        unsigned salt = (unsigned)getpid() * 2654435761u ^ counter.fetch_add(1) * 40503u ^
                        (unsigned)std::chrono::steady_clock::now().time_since_epoch().count();
        char suffix[7] = {};
        for (int i = 0; i < 6; i++, salt /= 36) suffix[i] = "0123456789abcdefghijklmnopqrstuvwxyz"[salt % 36];
        out.temporary = stem + suffix;
        out.fd = open(out.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (out.fd >= 0) return true;
        if (errno != EEXIST) break;
    }
    why = strerror(errno);
    out.temporary.clear();
    return false;
}

bool vtOutputEnd(VtOutput& out, bool complete, std::string& why) {
    out.fd = -1;
    if (out.temporary.empty()) return complete;
    if (complete && rename(out.temporary.c_str(), out.target.c_str()) == 0) return out.temporary.clear(), true;
    if (complete) why = strerror(errno);
    unlink(out.temporary.c_str());
    out.temporary.clear();
    return false;
}

bool vtWritePng(const std::string& path, const uint32_t* pixels, int width, int height) {
    VtOutput out;
    std::string why;
    bool ok = vtOutputOpen(path, out, why);
    if (ok) {
        FILE* file = fdopen(out.fd, "wb");
        if (!file) {
            why = strerror(errno);
            close(out.fd);
            ok = false;
        } else {
            png_image image;
            memset(&image, 0, sizeof image);
            image.version = PNG_IMAGE_VERSION;
            image.width = width;
            image.height = height;
            image.format = PNG_FORMAT_BGRA;  // 0x00RRGGBB words in memory: B, G, R, 0
            errno = 0;
            try {
                std::vector<uint32_t> opaque(pixels, pixels + (size_t)width * height);
                for (auto& p : opaque) p |= 0xFF000000u;
                ok = png_image_write_to_stdio(&image, file, 0, opaque.data(), width * 4, nullptr);
                // A write error leaves its errno; libpng's own message says less.
                if (!ok) why = errno ? strerror(errno) : image.message;
            } catch (const std::bad_alloc&) {
                ok = false, why = "out of memory";
            }
            if (ok && fflush(file) != 0) ok = false, why = strerror(errno);
            if (fclose(file) != 0 && ok) ok = false, why = strerror(errno);
        }
        ok = vtOutputEnd(out, ok, why);
    }
    if (!ok) {
        fprintf(stderr, "%s: cannot write the picture (%s)\n", path.c_str(), why.c_str());
        vtOutputFailed();
    }
    return ok;
}
