// Reading whole asset files, shared by the picture and mesh readers.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// "DATA\zag.3d" as the file system spells it ("DATA/zag.3d").
std::string assetPath(const char* fileName);

// Reads the whole file into bytes. False, with one line on stderr naming the
// file, when it cannot be opened or read, is empty, or is larger than limit.
bool readWholeFile(const char* fileName, std::vector<uint8_t>& bytes, uint64_t limit);

// Before the show: one line when the working directory has no DATA folder,
// saying how to make one; `program` names the one that prints it.
void warnIfNoAssetFolder(const char* program);
