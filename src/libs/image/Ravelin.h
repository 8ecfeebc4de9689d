// SPDX-License-Identifier: AGPL-3.0-or-later
// Image file input and output: page images as packed device-independent bitmaps,
// the turned-PDF writer and the two-page merge.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/GlobalMemory.h"
#include "base/WinTypes.h"

// The image request record, 8712 bytes, zeroed by the caller.
struct IMAGE_REQUEST {
    char szPath[260];              // 0   file path, NUL-terminated
    std::int32_t iPage;            // 260 page within the file, from 1
    std::uint8_t reserved1[16];    // 264
    std::int32_t iWidth;           // 280 full image width in pixels (filled by GetImageInfo)
    std::int32_t iHeight;          // 284 full image height in pixels
    std::uint8_t reserved2[36];    // 288
    std::int32_t iRotation;        // 324 degrees to the right (SaveFileName)
    std::uint8_t reserved3[20];    // 328
    std::int32_t iScaleSet;        // 348 set to 1 before LoadImage
    std::int32_t iScale;           // 352 thousandths of full size (1000 = full size)
    std::uint8_t reserved4[8356];  // 356
};
static_assert(sizeof(IMAGE_REQUEST) == 8712);
static_assert(offsetof(IMAGE_REQUEST, iPage) == 260);
static_assert(offsetof(IMAGE_REQUEST, iWidth) == 280);
static_assert(offsetof(IMAGE_REQUEST, iHeight) == 284);
static_assert(offsetof(IMAGE_REQUEST, iRotation) == 324);
static_assert(offsetof(IMAGE_REQUEST, iScaleSet) == 348);
static_assert(offsetof(IMAGE_REQUEST, iScale) == 352);

// The merge record, 840 bytes.
struct HAGAKI_MERGE_PARAM {
    std::int32_t iCount;        // 0   3
    char szFront[260];          // 4   front source, NUL-terminated (zero when none)
    std::int32_t iFrontPage;    // 264 1
    char szBack[260];           // 268 back source (zero when none)
    std::int32_t iBackPage;     // 528 1
    char szOutput[260];         // 532 output path
    std::uint8_t reserved[48];  // 792
};
static_assert(sizeof(HAGAKI_MERGE_PARAM) == 840);
static_assert(offsetof(HAGAKI_MERGE_PARAM, szFront) == 4);
static_assert(offsetof(HAGAKI_MERGE_PARAM, iFrontPage) == 264);
static_assert(offsetof(HAGAKI_MERGE_PARAM, szBack) == 268);
static_assert(offsetof(HAGAKI_MERGE_PARAM, iBackPage) == 528);
static_assert(offsetof(HAGAKI_MERGE_PARAM, szOutput) == 532);
static_assert(offsetof(HAGAKI_MERGE_PARAM, reserved) == 792);

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight;  // positive: rows bottom-up
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);

// Results are non-zero for success except ImageIO_MergeTwoPage (0 = success).
// Initialisations nest; one UnInitialize releases them all.
int ImageIO_Initialize(HWND hwnd, const char* appTitle, int reserved);
int ImageIO_UnInitialize();
// Fills iWidth and iHeight: full size is the native resolution of a page that is
// one scanned image, else 300 DPI.
int ImageIO_GetImageInfo(IMAGE_REQUEST* request);
// Loads the page at iScale thousandths of full size into a packed DIB
// (BITMAPINFOHEADER, 24-bit bottom-up rows padded to 4 bytes) that the caller
// owns and frees with GlobalFree.
int ImageIO_LoadImage(IMAGE_REQUEST* request, HGLOBAL* dib);
// Format 50 is the PDF writer; *info receives the value for ImageIO_SaveFileName.
int ImageIO_GetSaveFuncInfo(int format, DWORD* info);
// Writes destination: the source PDF of the request turned iRotation degrees to
// the right by the page's rotation (no re-rendering).
int ImageIO_SaveFileName(const char* destination, DWORD info, int count, IMAGE_REQUEST* request, int r1,
                         int r2);
// Writes the output: front then back as a two-page PDF; either side may be
// missing (empty path). 0 on success.
int ImageIO_MergeTwoPage(HAGAKI_MERGE_PARAM* param);
