// Fresh folders under /tmp for the tests, removed with everything in them
// when the program that made them ends (or, in a death test's child, which
// ends with _exit, when it calls removeTempDirs first). Only the process that
// made a folder removes it: a child forked from a test keeps its parent's list.
#pragma once
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testdirs {

struct MadeDirs {
    std::vector<std::pair<pid_t, std::string>> paths;
    void removeAll() {
        std::error_code ignored;
        for (const auto& [maker, path] : paths)
            if (maker == getpid()) std::filesystem::remove_all(path, ignored);
        paths.clear();
    }
    ~MadeDirs() { removeAll(); }
};

inline MadeDirs& madeDirs() {
    static MadeDirs made;
    return made;
}

// "/tmp/velkor-<what>-XXXXXX", made; "/tmp" when it cannot be.
inline std::string makeTempDir(const std::string& what) {
    std::string name = "/tmp/velkor-" + what + "-XXXXXX";
    if (!mkdtemp(name.data())) return "/tmp";
    madeDirs().paths.emplace_back(getpid(), name);
    return name;
}

inline void removeTempDirs() { madeDirs().removeAll(); }

}  // namespace testdirs
