#pragma once
// Small but valid picture files made in memory, so downloads can be checked by their bytes.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vq::sim {

enum class PictureType { Jpeg, Png, Gif, Bmp };

// The type named by the path's extension (".jpg", ".jpeg", ".png", ".gif", ".bmp", any
// case), or nothing.
std::optional<PictureType> picture_type_for_path(std::string_view path);

std::string_view picture_content_type(PictureType type);

// A well-formed picture of the type. label goes into a comment (the BMP, which has none,
// takes its pixel colour from it), so different addresses get different bytes; the file is
// padded with comment data to at least min_size bytes.
std::string make_picture(PictureType type, std::string_view label, std::size_t min_size = 0);

}  // namespace vq::sim
