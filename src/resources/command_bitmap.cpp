#include "resources/command_bitmap.h"

#include <cstdint>

namespace selvane::resources {
namespace {

constexpr int kSize = 16;

// One character a pixel: '.' background, '#' outline, 'o' selection fill, 'x' selection edge.
constexpr const char* kRows[kSize] = {
    "................",
    ".##############.",
    ".#............#.",
    ".#..xxxxxx....#.",
    ".#..xooooox...#.",
    ".#..xoooooox..#.",
    ".#..xooooooox.#.",
    ".#..xooooooox.#.",
    ".#..xooooooox.#.",
    ".#..xoooooox..#.",
    ".#..xxxxxxx...#.",
    ".#............#.",
    ".#............#.",
    ".#............#.",
    ".##############.",
    "................",
};

void Put(platform::Picture& picture, char pixel) {
    std::uint8_t red = 0xC0, green = 0xC0, blue = 0xC0;
    switch (pixel) {
        case '#': red = 0x40; green = 0x40; blue = 0x80; break;
        case 'o': red = 0x00; green = 0xFF; blue = 0xFF; break;
        case 'x': red = 0x00; green = 0x80; blue = 0x80; break;
        default: break;
    }
    picture.rgb.push_back(red);
    picture.rgb.push_back(green);
    picture.rgb.push_back(blue);
}

}  // namespace

platform::Picture CommandBitmap() {
    platform::Picture picture;
    picture.width = kSize;
    picture.height = kSize;
    picture.bits_per_pixel = 24;
    picture.rgb.reserve(kSize * kSize * 3);
    for (const char* row : kRows) {
        for (int column = 0; column < kSize; ++column) Put(picture, row[column]);
    }
    return picture;
}

}  // namespace selvane::resources
