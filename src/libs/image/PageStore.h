// SPDX-License-Identifier: AGPL-3.0-or-later
// The page-image store that outlives the run: page images kept in a folder of the
// user's cache (by default $XDG_CACHE_HOME/ormaview/pages). An entry carries its
// whole key (the source's path and identity, the page, the annotation state, the
// annotation file's path and identity, the scale) in a header of its own before
// the page image, and is used only for that key. Entries are written through a
// temporary file and renamed into place, checked (the page image's own hash)
// before use, and the folder is kept within a byte bound by dropping the least
// recently used entries first. The store trusts nothing in its folder: it works
// only in real folders of the user that no one else may write, and removes
// nothing there but its own entries and temporary files. Safe to use from several
// threads and processes at once.
#pragma once

#include <string>

#include "image/FileUtil.h"

namespace ov::image {

struct ThmImage;

// What a page image is made from. Paths are file-system (UTF-8) paths; the
// identities are those taken before the page was rendered.
struct PageStoreKey {
    std::string source;
    FileStamp sourceStamp;
    int page = 1;
    int drawEditInfo = 0;
    std::string editInfo;     // the annotation file (it counts only when drawn)
    FileStamp editInfoStamp;  // size -1: the file does not exist
    int scaleX = 1000;
    int scaleY = 1000;
};

// Takes the identities of key's source and, when annotations are drawn, of its
// annotation file (a missing one is an identity too). false when the source
// cannot be examined or is not a regular file.
bool TakeIdentities(PageStoreKey* key);

// The key as one text, each field with its length: two keys are the same when
// their texts are.
std::string KeyText(const PageStoreKey& key);

class CPageStore {
public:
    static constexpr unsigned long long kDefaultBytes = 512ull * 1024 * 1024;

    // Opens (makes, 0700, when missing) the folder and its parent folder. Each must
    // be a real folder (not a link) of this user that neither group nor others may
    // write; otherwise, or for an empty folder, the store is off for the run
    // (trace "Page store off! [Folder] ... [Reason] ...").
    CPageStore(std::string fsFolder, unsigned long long maxBytes);
    ~CPageStore();
    CPageStore(const CPageStore&) = delete;
    CPageStore& operator=(const CPageStore&) = delete;

    // $XDG_CACHE_HOME/ormaview/pages, else ~/.cache/ormaview/pages; empty when neither is known.
    static std::string DefaultFolder();

    const std::string& Folder() const { return m_folder; }
    unsigned long long MaxBytes() const { return m_maxBytes; }
    bool IsOn() const { return m_fd >= 0; }

    // Where the entry of key lies ("" when the store is off).
    std::string EntryPath(const PageStoreKey& key) const;

    // The stored page image of key, read and checked whole: 0; kErrNoFile when
    // there is none for this key; kErrThmFormat when the entry failed its check
    // or holds another key (then it is removed, trace "Page store entry
    // damaged! [Path] ... [Return] ..."). A use makes the entry the most recent.
    int Load(const PageStoreKey& key, ThmImage* out) const;

    // Keeps the page-image file fsThmPath as the entry of key, then trims the folder.
    void Store(const PageStoreKey& key, const std::string& fsThmPath) const;

    // Drops the least recently used entries until the folder fits the bound, and
    // the store's own temporary files left by writes that never finished.
    void Trim() const;

private:
    std::string m_folder;
    unsigned long long m_maxBytes;
    int m_fd = -1;  // the folder, opened once it passed its checks
};

}  // namespace ov::image
