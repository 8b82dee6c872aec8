// assetgen DIR: writes every file of the show's DATA folder into DIR.
// DIR/.complete is written last, so an interrupted run is regenerated next time.
#include <cstdio>
#include <exception>
#include <filesystem>

#include "tools/assetgen/assetgen.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    try {
        std::filesystem::create_directories(dir);
        std::filesystem::remove(dir + "/.complete");
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
