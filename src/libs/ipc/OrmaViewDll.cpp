// SPDX-License-Identifier: AGPL-3.0-or-later
// Each key's block is one 352-byte file "hagaki-<key>.blk" in the runtime
// folder. Writers replace it whole (temporary file, then rename), so a reader
// always sees one complete block, never a mix of two.
#include "ipc/OrmaViewDll.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ipc/FdIo.h"
#include "ipc/RuntimeDir.h"
#include "win32/AtomicFile.h"
#include "win32/RegularFile.h"

namespace {

std::string BlockPath(const std::string& dir, int key) {
    return dir + "/hagaki-" + std::to_string(key) + ".blk";
}

// The folder text must end within its 260 bytes; a reader would otherwise run
// past the block.
bool FolderTerminated(const HAGAKI_MANAGE_INFO& info) {
    return std::memchr(info.szWorkDeskFolder, '\0', sizeof info.szWorkDeskFolder) != nullptr;
}

}  // namespace

int OrmaViewGetHagakiManage(int key, HAGAKI_MANAGE_INFO* info) {
    if (info == nullptr) {
        errno = EINVAL;
        return ORMAVIEW_DLL_BAD_ARGUMENT;
    }
    std::string dir = ov::ipc::RuntimeDir();
    if (dir.empty()) {
        return ORMAVIEW_DLL_STORAGE;
    }
    // A block is a regular file of one record; a FIFO or device is refused at once.
    struct stat st {};
    int fd = ov::OpenRegularFile(BlockPath(dir, key), sizeof(HAGAKI_MANAGE_INFO), &st, false);
    if (fd < 0 && errno == EFBIG) {
        errno = EBADMSG;
        return ORMAVIEW_DLL_BAD_BLOCK;
    }
    if (fd < 0) {
        return errno == ENOENT ? ORMAVIEW_DLL_NO_BLOCK : ORMAVIEW_DLL_STORAGE;
    }
    // One byte more than a block, to see a file that is too long.
    unsigned char buf[sizeof(HAGAKI_MANAGE_INFO) + 1];
    ssize_t n = ov::ipc::ReadAll(fd, buf, sizeof buf);
    int err = errno;
    ::close(fd);
    if (n < 0) {
        errno = err;
        return ORMAVIEW_DLL_STORAGE;
    }
    HAGAKI_MANAGE_INFO block;
    if (static_cast<size_t>(n) != sizeof block) {
        errno = EBADMSG;
        return ORMAVIEW_DLL_BAD_BLOCK;
    }
    std::memcpy(&block, buf, sizeof block);
    if (!FolderTerminated(block)) {
        errno = EBADMSG;
        return ORMAVIEW_DLL_BAD_BLOCK;
    }
    std::memcpy(info, &block, sizeof block);
    return 0;
}

int OrmaViewSetHagakiManage(int key, const HAGAKI_MANAGE_INFO* info) {
    if (info == nullptr || !FolderTerminated(*info)) {
        errno = EINVAL;
        return ORMAVIEW_DLL_BAD_ARGUMENT;
    }
    std::string dir = ov::ipc::RuntimeDir();
    if (dir.empty()) {
        return ORMAVIEW_DLL_STORAGE;
    }
    if (!ov::ReplaceFileContents(BlockPath(dir, key),
                                 std::string_view(reinterpret_cast<const char*>(info), sizeof *info))) {
        return ORMAVIEW_DLL_STORAGE;
    }
    return 0;
}

int OrmaViewRemoveHagakiManage(int key) {
    std::string dir = ov::ipc::RuntimeDir();
    if (dir.empty()) {
        return ORMAVIEW_DLL_STORAGE;
    }
    if (::unlink(BlockPath(dir, key).c_str()) != 0) {
        return errno == ENOENT ? ORMAVIEW_DLL_NO_BLOCK : ORMAVIEW_DLL_STORAGE;
    }
    return 0;
}
