// SPDX-License-Identifier: AGPL-3.0-or-later
// The page-image reader. Odd first bytes: the input is the file as it is. Even
// ones: width and height from the next two bytes and the rest as the encoded
// rows, behind a header with correct hashes, so that the row decoder is reached.
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "image/ThmFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const std::string path = ovfuzz::ScratchDir() + "/page.thm";
    if (data[0] & 1) {
        ovfuzz::WriteAll(path, data + 1, size - 1);
    } else {
        const std::uint32_t w = 1 + data[1] % 64, h = 1 + data[2] % 64;
        const std::uint8_t* rows = data + 3;
        const std::size_t bytes = size - 3;
        std::vector<std::uint8_t> file(ov::image::kThmHeaderSize + bytes);
        std::uint8_t* hd = file.data();
        auto put = [](std::uint8_t* at, std::uint64_t v, std::size_t n) { std::memcpy(at, &v, n); };
        std::memcpy(hd, "OVTHM\r\n\x1a", 8);
        put(hd + 8, 2, 4);
        put(hd + 12, ov::image::kThmHeaderSize, 4);
        put(hd + 16, w, 4);
        put(hd + 20, h, 4);
        put(hd + 24, w * 3, 4);
        put(hd + 28, 1, 4);
        put(hd + 32, bytes, 8);
        put(hd + 40, ov::image::Hash64(rows, bytes), 8);
        put(hd + 48, 1, 4);
        put(hd + 60, static_cast<std::uint32_t>(ov::image::Hash64(hd, 60)), 4);
        if (bytes > 0)
            std::memcpy(hd + ov::image::kThmHeaderSize, rows, bytes);
        ovfuzz::WriteAll(path, file.data(), file.size());
    }
    ov::image::ThmImage image;
    if (ov::image::ReadThm(path, &image) == 0) {
        // Every pixel of a decoded image is there to be read.
        unsigned sum = 0;
        for (int y = 0; y < image.height; ++y) {
            const std::uint8_t* row = image.Row(y);
            for (int x = 0; x < image.stride; ++x) sum += row[x];
        }
        ovfuzz::Check(image.width >= 1 && image.stride == image.width * 3 && sum != 0xFFFFFFFFu);
    }
    return 0;
}
