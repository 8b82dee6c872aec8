// The lines a piece of code writes to stderr (GoogleTest's capture).
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> stderrLines(const std::function<void()>& fn) {
    testing::internal::CaptureStderr();
    fn();
    std::istringstream text(testing::internal::GetCapturedStderr());
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
