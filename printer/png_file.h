// png_file.h - an 8-bit grey picture written as a PNG file.
#pragma once

#include <filesystem>
#include <string>

namespace it433td::printer {

// Writes `height` rows of `width` grey bytes, `stride` bytes apart, to `path`.
// False, with the reason in *error, when libpng or the file system refuses
// (a full disk included: the file is flushed and closed before true).
bool writeGreyPng(const std::filesystem::path &path, const unsigned char *rows, int width,
                  int height, int stride, std::string *error);

}  // namespace it433td::printer
