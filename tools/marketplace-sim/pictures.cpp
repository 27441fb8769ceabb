#include "marketplace-sim/pictures.hpp"

#include <zlib.h>

#include <algorithm>
#include <cstdint>

#include "marketplace-sim/prng.hpp"

namespace vq::sim {
namespace {

void put16le(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void put32le(std::string& out, std::uint32_t v) {
    put16le(out, v & 0xFFFF);
    put16le(out, v >> 16);
}

void put16be(std::string& out, std::uint32_t v) {
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}

void put32be(std::string& out, std::uint32_t v) {
    put16be(out, v >> 16);
    put16be(out, v & 0xFFFF);
}

void put_bytes(std::string& out, std::initializer_list<unsigned char> bytes) {
    for (unsigned char b : bytes) out += static_cast<char>(b);
}

// The comment text: the label, then filler up to `size` bytes when that is longer.
std::string comment_text(std::string_view label, std::size_t size) {
    std::string text(label);
    while (text.size() < size) text += "marketplace-sim padding ";
    if (size > label.size()) text.resize(size);
    return text;
}

// An 8x8 grey baseline JPEG: every block has a zero DC difference and an immediate EOB, so
// two one-code Huffman tables are enough.
std::string make_jpeg(std::string_view label, std::size_t min_size) {
    std::string head;
    put_bytes(head, {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',
                     0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00});
    std::string tail;
    put_bytes(tail, {0xFF, 0xDB, 0x00, 0x43, 0x00});
    tail.append(64, '\x01');
    put_bytes(tail, {0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x08, 0x00, 0x08, 0x01, 0x01, 0x11, 0x00});
    for (unsigned char table : {0x00, 0x10}) {
        put_bytes(tail, {0xFF, 0xC4, 0x00, 0x14, table, 0x01});
        tail.append(15, '\0');
        tail += '\0';  // the one symbol: DC category 0, or EOB
    }
    put_bytes(tail, {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
    put_bytes(tail, {0x3F, 0xFF, 0xD9});  // bits 0 (DC) 0 (EOB), padded with ones

    const std::size_t fixed = head.size() + tail.size();
    std::string text = comment_text(label, min_size > fixed ? min_size - fixed : 0);
    std::string out = head;
    for (std::size_t at = 0; at < text.size(); at += 65533) {
        const std::size_t n = std::min<std::size_t>(65533, text.size() - at);
        put_bytes(out, {0xFF, 0xFE});
        put16be(out, static_cast<std::uint32_t>(n + 2));
        out.append(text, at, n);
    }
    return out + tail;
}

void png_chunk(std::string& out, const char* type, std::string_view data) {
    put32be(out, static_cast<std::uint32_t>(data.size()));
    std::string body(type, 4);
    body.append(data);
    out += body;
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(body.data()),
                            static_cast<uInt>(body.size()));
    put32be(out, static_cast<std::uint32_t>(crc));
}

std::string make_png(std::string_view label, std::size_t min_size) {
    const std::uint64_t colour = hash_bytes(label);
    const int side = 4;
    std::string raw;
    for (int y = 0; y < side; ++y) {
        raw += '\0';  // filter: none
        for (int x = 0; x < side; ++x) {
            raw += static_cast<char>(colour & 0xFF);
            raw += static_cast<char>((colour >> 8) & 0xFF);
            raw += static_cast<char>((colour >> 16) & 0xFF);
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
             reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()));
    packed.resize(packedSize);

    std::string out;
    put_bytes(out, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
    std::string ihdr;
    put32be(ihdr, side);
    put32be(ihdr, side);
    put_bytes(ihdr, {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, no filter, no interlace
    png_chunk(out, "IHDR", ihdr);
    const std::size_t fixed = out.size() + 12 + 8 + (12 + packed.size()) + 12;
    std::string text = "Comment";
    text += '\0';
    text += comment_text(label, min_size > fixed ? min_size - fixed : 0);
    png_chunk(out, "tEXt", text);
    png_chunk(out, "IDAT", packed);
    png_chunk(out, "IEND", {});
    return out;
}

std::string make_gif(std::string_view label, std::size_t min_size) {
    const std::uint64_t colour = hash_bytes(label);
    std::string out = "GIF89a";
    put16le(out, 1);
    put16le(out, 1);
    put_bytes(out, {0x80, 0x00, 0x00});  // two-entry global colour table
    out += static_cast<char>(colour & 0xFF);
    out += static_cast<char>((colour >> 8) & 0xFF);
    out += static_cast<char>((colour >> 16) & 0xFF);
    put_bytes(out, {0x00, 0x00, 0x00});
    const std::size_t fixed = out.size() + 3 + 10 + 5 + 1;
    const std::string text = comment_text(label, min_size > fixed ? min_size - fixed : 0);
    put_bytes(out, {0x21, 0xFE});
    for (std::size_t at = 0; at < text.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, text.size() - at);
        out += static_cast<char>(n);
        out.append(text, at, n);
    }
    out += '\0';
    put_bytes(out, {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0});
    put_bytes(out, {0x02, 0x02, 0x44, 0x01, 0x00});  // one pixel of colour 0
    out += ';';
    return out;
}

// No comment block in a BMP: the label picks the colour and extra rows make up the size.
std::string make_bmp(std::string_view label, std::size_t min_size) {
    const std::uint64_t colour = hash_bytes(label);
    const std::uint32_t width = 4;  // 12-byte rows need no padding
    const std::uint32_t rowBytes = width * 3;
    std::uint32_t height = 2;
    if (min_size > 54 + rowBytes * height) {
        height = static_cast<std::uint32_t>((min_size - 54 + rowBytes - 1) / rowBytes);
    }
    const std::uint32_t pixelBytes = rowBytes * height;
    std::string out = "BM";
    put32le(out, 54 + pixelBytes);
    put32le(out, 0);
    put32le(out, 54);
    put32le(out, 40);
    put32le(out, width);
    put32le(out, height);
    put16le(out, 1);
    put16le(out, 24);
    put32le(out, 0);
    put32le(out, pixelBytes);
    put32le(out, 2835);
    put32le(out, 2835);
    put32le(out, 0);
    put32le(out, 0);
    for (std::uint32_t i = 0; i < width * height; ++i) {
        out += static_cast<char>(colour & 0xFF);
        out += static_cast<char>((colour >> 8) & 0xFF);
        out += static_cast<char>((colour >> 16) & 0xFF);
    }
    return out;
}

bool ends_with_ignore_case(std::string_view text, std::string_view tail) {
    if (text.size() < tail.size()) return false;
    const std::string_view end = text.substr(text.size() - tail.size());
    return std::equal(end.begin(), end.end(), tail.begin(),
                      [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
}

}  // namespace

std::optional<PictureType> picture_type_for_path(std::string_view path) {
    if (ends_with_ignore_case(path, ".jpg") || ends_with_ignore_case(path, ".jpeg"))
        return PictureType::Jpeg;
    if (ends_with_ignore_case(path, ".png")) return PictureType::Png;
    if (ends_with_ignore_case(path, ".gif")) return PictureType::Gif;
    if (ends_with_ignore_case(path, ".bmp")) return PictureType::Bmp;
    return std::nullopt;
}

std::string_view picture_content_type(PictureType type) {
    switch (type) {
        case PictureType::Jpeg:
            return "image/jpeg";
        case PictureType::Png:
            return "image/png";
        case PictureType::Gif:
            return "image/gif";
        case PictureType::Bmp:
            return "image/bmp";
    }
    return "application/octet-stream";
}

std::string make_picture(PictureType type, std::string_view label, std::size_t min_size) {
    switch (type) {
        case PictureType::Jpeg:
            return make_jpeg(label, min_size);
        case PictureType::Png:
            return make_png(label, min_size);
        case PictureType::Gif:
            return make_gif(label, min_size);
        case PictureType::Bmp:
            return make_bmp(label, min_size);
    }
    return {};
}

}  // namespace vq::sim
