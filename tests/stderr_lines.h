// The lines a piece of code writes to stderr (GoogleTest's capture).
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

inline std::vector<std::string> stderrLines(const std::function<void()>& fn) {
    testing::internal::CaptureStderr();
    fn();
    std::string text = testing::internal::GetCapturedStderr();
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
