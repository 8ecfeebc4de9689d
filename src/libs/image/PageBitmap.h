// SPDX-License-Identifier: AGPL-3.0-or-later
// A page image in memory: 32-bit pixels 0xFFRRGGBB (native-endian words), rows
// top to bottom, stride in bytes. The GUI wraps the pixels in a QImage
// (Format_RGB32) without copying.
#pragma once

#include <cstdint>
#include <vector>

class CPageBitmap {
public:
    bool IsNull() const { return m_iWidth <= 0 || m_iHeight <= 0; }
    int Width() const { return m_iWidth; }
    int Height() const { return m_iHeight; }
    int Stride() const { return m_iWidth * 4; }
    const std::uint8_t* Bits() const { return reinterpret_cast<const std::uint8_t*>(m_pixels.data()); }
    std::uint32_t* Row(int y) { return m_pixels.data() + static_cast<std::size_t>(y) * m_iWidth; }
    const std::uint32_t* Row(int y) const { return m_pixels.data() + static_cast<std::size_t>(y) * m_iWidth; }
    // Allocates width x height pixels, all white. Throws std::bad_alloc.
    void Create(int width, int height) {
        m_iWidth = width;
        m_iHeight = height;
        m_pixels.assign(static_cast<std::size_t>(width) * height, 0xFFFFFFFFu);
    }
    void Reset() {
        m_iWidth = m_iHeight = 0;
        m_pixels.clear();
        m_pixels.shrink_to_fit();
    }

private:
    int m_iWidth = 0;
    int m_iHeight = 0;
    std::vector<std::uint32_t> m_pixels;
};
