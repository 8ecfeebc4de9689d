// SPDX-License-Identifier: AGPL-3.0-or-later
// The page-image store that outlives the run: page images kept in a folder of the
// user's cache (by default $XDG_CACHE_HOME/ormaview/pages), each under a name made
// from the identity of its source (path, device, inode, size, modification time),
// the page, the identity of the annotation file and the scale. Entries are written
// through a temporary file and renamed into place, checked (the page-image file's
// own hash) before use, and the folder is kept within a byte bound by dropping the
// least recently used entries first. Safe to use from several threads at once: it
// holds no state but its folder and bound.
#pragma once

#include <string>

namespace ov::image {

// What a page image is made from. Paths are file-system (UTF-8) paths.
struct PageStoreKey {
    std::string source;
    int page = 1;
    int drawEditInfo = 0;
    std::string editInfo;  // the annotation file (its identity counts only when drawn)
    int scaleX = 1000;
    int scaleY = 1000;
};

class CPageStore {
public:
    static constexpr unsigned long long kDefaultBytes = 512ull * 1024 * 1024;

    // An empty folder disables the store (Fetch finds nothing, Store keeps nothing).
    CPageStore(std::string fsFolder, unsigned long long maxBytes);

    // $XDG_CACHE_HOME/ormaview/pages, else ~/.cache/ormaview/pages; empty when neither is known.
    static std::string DefaultFolder();

    const std::string& Folder() const { return m_folder; }
    unsigned long long MaxBytes() const { return m_maxBytes; }

    // The entry's file name for key ("" when the source cannot be examined).
    std::string EntryPath(const PageStoreKey& key) const;

    // Puts the stored page image of key at fsThmPath (written through a temporary
    // file). true when it was there and whole; a damaged entry is removed (trace
    // "Page store entry damaged! [Path] ...") and false returned, so that the page
    // is rendered again.
    bool Fetch(const PageStoreKey& key, const std::string& fsThmPath) const;

    // The path of the entry of key when there is one ("" else). The caller reads
    // and checks it (ReadThmCached, WorkDesk_GetThumbnail) and tells the outcome:
    // Used after a good read, Drop after a failed check.
    std::string Find(const PageStoreKey& key) const;
    void Used(const std::string& fsEntry) const;
    // Removes a damaged entry (trace "Page store entry damaged! [Path] ... [Return] code").
    void Drop(const std::string& fsEntry, int iCode) const;

    // Keeps the page-image file fsThmPath as the entry of key, then trims the folder.
    void Store(const PageStoreKey& key, const std::string& fsThmPath) const;

    // Drops the least recently used entries until the folder fits the bound, and
    // temporary files left by an interrupted write.
    void Trim() const;

private:
    std::string m_folder;
    unsigned long long m_maxBytes;
};

}  // namespace ov::image
