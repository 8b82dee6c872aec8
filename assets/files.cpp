#include "assets/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/win/files.h"

std::string assetPath(const char* fileName) {
    std::string path(fileName);
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

bool readWholeFile(const char* fileName, std::vector<uint8_t>& bytes, uint64_t limit) {
    bytes.clear();
    std::string path = assetPath(fileName);
    std::string why;
    FILE* file = openRegularFile(path.c_str(), &why);
    if (!file) {
        std::fprintf(stderr, "%s: cannot open the file (%s)\n", path.c_str(), why.c_str());
        return false;
    }
    bool ok = false;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fprintf(stderr, "%s: cannot read (%s)\n", path.c_str(), std::strerror(errno));
    } else if (size == 0) {
        std::fprintf(stderr, "%s: file is empty\n", path.c_str());
    } else if ((uint64_t)size > limit) {
        std::fprintf(stderr, "%s: file is %ld bytes, more than the %llu it may have\n", path.c_str(), size,
                     (unsigned long long)limit);
    } else {
        bytes.resize((size_t)size);
        size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
        if (got != bytes.size()) {
            std::fprintf(stderr, "%s: read %zu of its %ld bytes\n", path.c_str(), got, size);
            bytes.clear();
        } else {
            ok = true;
        }
    }
    std::fclose(file);
    return ok;
}

void warnIfNoAssetFolder(const char* program) {
    struct stat st;
    if (stat("DATA", &st) == 0 && S_ISDIR(st.st_mode)) return;
    char here[4096];
    const char* folder = getcwd(here, sizeof here) ? here : "the current folder";
    std::fprintf(stderr,
                 "%s: no DATA folder in %s, so the show has no pictures, meshes or sounds; make it with `make data` "
                 "in the project's folder and start the show there\n",
                 program, folder);
}
