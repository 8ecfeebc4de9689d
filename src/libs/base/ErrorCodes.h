// SPDX-License-Identifier: AGPL-3.0-or-later
// The viewer's own error codes. Operations return 0 for success or one of these;
// a library's non-zero code is passed on unchanged. The values are fixed: the
// work desk and the message table know them.
#pragma once

namespace ov {

inline constexpr int kErrNoMemory = -1;         // memory exhausted
inline constexpr int kErrSilentParameter = -2;  // command-line or parameter error; no box is shown
inline constexpr int kErrRecordAfterMove = -3;  // the postcard record of the new page cannot be read
inline constexpr int kErrFramework = -4;        // a framework exception (also: a record without a page ID)
inline constexpr int kErrException = -5;        // any other exception, or a peer that failed an event
inline constexpr int kErrFolderMissing = -701;  // the document or work-desk folder does not exist
inline constexpr int kErrNoView = -702;         // the frame has no document or no page view
inline constexpr int kErrFolderNotMade = -703;  // a working folder cannot be created
inline constexpr int kErrNotFound = -704;       // the page list, a page, a page ID or a file is missing
inline constexpr int kErrBadParameter = -705;   // a bad parameter (empty folder, ID below 1, bad name)
inline constexpr int kErrNotReplaced = -707;    // a rewritten file could not replace its target
inline constexpr int kErrRuntimeFolder = -720;  // the private runtime folder cannot be used
inline constexpr int kErrNoPostcardKey = -721;  // no postcard viewer published a record under the key
inline constexpr int kErrMergeFailed = -204;    // the image library could not merge the two sides
inline constexpr int kErrTurnFailed = -543;     // the image library could not turn a page

}  // namespace ov
