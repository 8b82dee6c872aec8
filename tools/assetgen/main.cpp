// assetgen DIR: writes every file of the show's DATA folder into DIR.
// DIR/.complete is written last, so an interrupted run is regenerated next time.
#include <sys/stat.h>

#include <cstdio>
#include <exception>

#include "tools/assetgen/assetgen.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    mkdir(dir.c_str(), 0755);
    std::remove((dir + "/.complete").c_str());
    try {
        assetgen::writeMeshes(dir);
        assetgen::writeWaveMap(dir);
        assetgen::writePictures(dir);
        assetgen::writeAudio(dir);
        assetgen::writeFile(dir + "/.complete", {});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "assetgen: %s\n", e.what());
        return 1;
    }
    return 0;
}
