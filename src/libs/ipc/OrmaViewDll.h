// SPDX-License-Identifier: AGPL-3.0-or-later
// The postcard viewer's library: it keeps one 352-byte HAGAKI_MANAGE_INFO block
// per numeric key in storage that both processes see.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/WinTypes.h"

struct HAGAKI_MANAGE_INFO {
    std::int32_t iKey;            // 0
    std::uint32_t hViewerWnd;     // 4   window that receives the event message
    std::uint32_t hOwnerWnd;      // 8   the viewer's main frame
    std::int32_t iResult;         // 12
    std::int32_t iMode;           // 16  1: undo-folder mode
    std::uint8_t reserved1[4];    // 20
    std::uint32_t uEventMessage;  // 24
    std::uint8_t reserved2[16];   // 28
    char szWorkDeskFolder[260];   // 44
    std::int32_t iDocID;          // 304
    std::int32_t iPageID;         // 308
    std::int32_t bEditable;       // 312
    std::int32_t bNextPage;       // 316
    std::int32_t bPrevPage;       // 320
    std::int32_t iChange;         // 324
    std::uint8_t reserved3[24];   // 328
};

static_assert(sizeof(HAGAKI_MANAGE_INFO) == 352);
static_assert(offsetof(HAGAKI_MANAGE_INFO, hViewerWnd) == 4);
static_assert(offsetof(HAGAKI_MANAGE_INFO, hOwnerWnd) == 8);
static_assert(offsetof(HAGAKI_MANAGE_INFO, iResult) == 12);
static_assert(offsetof(HAGAKI_MANAGE_INFO, iMode) == 16);
static_assert(offsetof(HAGAKI_MANAGE_INFO, uEventMessage) == 24);
static_assert(offsetof(HAGAKI_MANAGE_INFO, szWorkDeskFolder) == 44);
static_assert(offsetof(HAGAKI_MANAGE_INFO, iDocID) == 304);
static_assert(offsetof(HAGAKI_MANAGE_INFO, iPageID) == 308);
static_assert(offsetof(HAGAKI_MANAGE_INFO, bEditable) == 312);
static_assert(offsetof(HAGAKI_MANAGE_INFO, bNextPage) == 316);
static_assert(offsetof(HAGAKI_MANAGE_INFO, bPrevPage) == 320);
static_assert(offsetof(HAGAKI_MANAGE_INFO, iChange) == 324);

// Postcard events, passed as the event message's lParam.
enum : int {
    HAGAKI_EVENT_START = 1,
    HAGAKI_EVENT_CLOSE = 2,
    HAGAKI_EVENT_NEXT = 3,
    HAGAKI_EVENT_PREV = 4,
};

// Non-zero results of the three operations (errno tells the cause).
enum : int {
    ORMAVIEW_DLL_NO_BLOCK = 1,      // no block is kept for the key (errno ENOENT)
    ORMAVIEW_DLL_STORAGE = 2,       // the runtime folder or the block file cannot be used
    ORMAVIEW_DLL_BAD_BLOCK = 3,     // the stored block is short, long or malformed (errno EBADMSG)
    ORMAVIEW_DLL_BAD_ARGUMENT = 4,  // null block, or a folder text without its NUL (errno EINVAL)
};

// Copies the block kept for the key into *info. 0 on success; non-zero (errno
// set) when no block exists for the key or the storage cannot be read.
int OrmaViewGetHagakiManage(int key, HAGAKI_MANAGE_INFO* info);
// Publishes *info as the block for the key. 0 on success.
int OrmaViewSetHagakiManage(int key, const HAGAKI_MANAGE_INFO* info);
// Removes the block of the key (used by the postcard viewer when it is done).
int OrmaViewRemoveHagakiManage(int key);
