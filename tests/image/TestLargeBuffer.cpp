// SPDX-License-Identifier: AGPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/LargeBuffer.h"
#include "image/PageBitmap.h"

using namespace ov::image;

namespace {

// The VmFlags of the mapping holding p, or "unmapped".
std::string FlagsOfMappingAt(const void* p) {
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    std::ifstream smaps("/proc/self/smaps");
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        std::uintptr_t lo = 0, hi = 0;
        char dash = 0;
        std::istringstream head(line);
        if (head >> std::hex >> lo >> dash >> hi && dash == '-') {
            inside = lo <= at && at < hi;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line;
        }
    }
    return "unmapped";
}

}  // namespace

// A page-sized buffer is a mapping of its own, on a 2 MB boundary and marked
// for huge pages, kept for the next block of its length when freed and gone
// from the process once the kept blocks are given back; a bitmap made
// anew is white whatever the block held before.
TEST(LargeBuffer, PageSizedBlocksAreHugePageMappingsGivenBackWhenFreed) {
    const std::size_t bytes = (3u << 20) + 12345;
    auto block = MakeLargeArray<std::uint8_t>(bytes);
    ASSERT_TRUE(block);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.get()) % (2u << 20), 0u);
    std::memset(block.get(), 7, bytes);
    const void* where = block.get();
    EXPECT_NE(FlagsOfMappingAt(where).find(" hg"), std::string::npos) << FlagsOfMappingAt(where);
    block.reset();
    auto again = MakeLargeArray<std::uint8_t>(bytes);  // the same block, kept for it
    EXPECT_EQ(again.get(), where);
    again.reset();
    ReleaseSpareLargeBlocks();
    EXPECT_EQ(FlagsOfMappingAt(where), "unmapped");

    CPageBitmap bitmap;
    bitmap.Create(700, 500);
    std::memset(bitmap.Row(0), 0, static_cast<std::size_t>(bitmap.Stride()) * bitmap.Height());
    bitmap.Create(700, 500);  // the same block again
    EXPECT_EQ(bitmap.Row(499)[699], 0xFFFFFFFFu);
    bitmap.Create(0, 0);
    EXPECT_TRUE(bitmap.IsNull());
}

// The allocator handed to MuPDF: blocks of either kind through one free and
// one realloc, the contents kept across the 1 MB line both ways.
TEST(LargeBuffer, MixedBlocksKeepTheirContentsThroughReallocAcrossTheLine) {
    const std::size_t sizes[] = {100, 3u << 20, 5u << 20, 4000, 1u << 20, 200};
    std::uint8_t* p = static_cast<std::uint8_t*>(MallocMixed(sizes[0]));
    ASSERT_NE(p, nullptr);
    std::size_t have = sizes[0];
    for (std::size_t i = 0; i < have; ++i) p[i] = static_cast<std::uint8_t>(i * 7);
    for (std::size_t next : sizes) {
        SCOPED_TRACE(next);
        auto* q = static_cast<std::uint8_t*>(ReallocMixed(p, next));
        ASSERT_NE(q, nullptr);
        const std::size_t kept = std::min(have, next);
        for (std::size_t i = 0; i < kept; i += 997) ASSERT_EQ(q[i], static_cast<std::uint8_t>(i * 7));
        ASSERT_EQ(q[kept - 1], static_cast<std::uint8_t>((kept - 1) * 7));
        for (std::size_t i = kept; i < next; ++i) q[i] = static_cast<std::uint8_t>(i * 7);
        EXPECT_EQ(FlagsOfMappingAt(q).find(" hg") != std::string::npos, next >= (1u << 20)) << next;
        p = q;
        have = next;
    }
    FreeMixed(p);
    // More large blocks than the table holds: the rest come from the heap.
    std::vector<void*> many;
    for (int i = 0; i < 70; ++i) many.push_back(MallocMixed(1u << 20));
    for (void* b : many) ASSERT_NE(b, nullptr);
    EXPECT_EQ(FlagsOfMappingAt(many.back()).find(" hg"), std::string::npos);
    for (void* b : many) FreeMixed(b);
}
