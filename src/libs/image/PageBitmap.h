// SPDX-License-Identifier: AGPL-3.0-or-later
// A page image in memory: 32-bit pixels 0xFFRRGGBB (native-endian words), rows
// top to bottom, stride in bytes. The GUI wraps the pixels in a QImage
// (Format_RGB32) without copying.
#pragma once

#include <algorithm>
#include <cstdint>
#include <new>

#include "image/LargeBuffer.h"

class CPageBitmap {
public:
    bool IsNull() const { return m_iWidth <= 0 || m_iHeight <= 0; }
    int Width() const { return m_iWidth; }
    int Height() const { return m_iHeight; }
    int Stride() const { return m_iWidth * 4; }
    const std::uint8_t* Bits() const { return reinterpret_cast<const std::uint8_t*>(m_pixels.get()); }
    std::uint32_t* Row(int y) { return m_pixels.get() + static_cast<std::size_t>(y) * m_iWidth; }
    const std::uint32_t* Row(int y) const { return m_pixels.get() + static_cast<std::size_t>(y) * m_iWidth; }
    // Allocates width x height pixels, all white. Throws std::bad_alloc.
    void Create(int width, int height) {
        const std::size_t count = static_cast<std::size_t>(std::max(width, 0)) * std::max(height, 0);
        if (!m_pixels || m_count != count) {
            Reset();
            m_pixels = ov::image::MakeLargeArray<std::uint32_t>(count);
            if (!m_pixels && count > 0)
                throw std::bad_alloc();
            m_count = count;
        }
        m_iWidth = width;
        m_iHeight = height;
        std::fill_n(m_pixels.get(), count, 0xFFFFFFFFu);
    }
    void Reset() {
        m_iWidth = m_iHeight = 0;
        m_pixels.reset();
        m_count = 0;
    }

private:
    int m_iWidth = 0;
    int m_iHeight = 0;
    std::size_t m_count = 0;
    ov::image::LargeArray<std::uint32_t> m_pixels;
};
