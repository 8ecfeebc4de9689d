// SPDX-License-Identifier: AGPL-3.0-or-later
#include "win32/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/Trace.h"

namespace ov {

namespace {

std::atomic<unsigned> g_tempCounter{0};
std::atomic<ReplaceFaultHook> g_faultHook{nullptr};

const char* StepName(ReplaceStep step) {
    switch (step) {
        case ReplaceStep::Create:
            return "create";
        case ReplaceStep::Write:
            return "write";
        case ReplaceStep::Fsync:
            return "fsync";
        case ReplaceStep::Close:
            return "close";
        case ReplaceStep::Rename:
            return "rename";
    }
    return "?";
}

// 0 to go on, else the errno that the fault hook injects for this step.
int Fault(ReplaceStep step) {
    ReplaceFaultHook hook = g_faultHook.load();
    return hook != nullptr ? hook(step) : 0;
}

// Temporary files of this target whose writer is no longer running are removed.
// Their names carry the writer's pid: ".<base>.tmp<pid>-<n>".
void SweepStaleTemps(const std::string& folder, const std::string& base) {
    DIR* d = ::opendir(folder.c_str());
    if (d == nullptr)
        return;
    const std::string prefix = "." + base + ".tmp";
    const pid_t self = ::getpid();
    while (dirent* e = ::readdir(d)) {
        const char* name = e->d_name;
        if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0)
            continue;
        const char* digits = name + prefix.size();
        char* end = nullptr;
        errno = 0;
        const long pid = std::strtol(digits, &end, 10);
        if (end == digits || *end != '-' || errno != 0 || pid <= 0 || pid == self)
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;  // still running (or not ours to ask): its file may be in use
        struct stat st {};
        if (::fstatat(::dirfd(d), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(::dirfd(d), name, 0);
    }
    ::closedir(d);
}

}  // namespace

void SetReplaceFaultHook(ReplaceFaultHook hook) {
    g_faultHook.store(hook);
}

bool ReplaceFileContents(const std::string& fsPath, std::string_view bytes) {
    const std::string& target = fsPath;
    struct stat st {};
    bool existed = false;
    if (::lstat(target.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            // A link is never written through: its target may be any file of the
            // user. The new file takes the link's own place.
            OV_TRACE("ReplaceFileContents() A link is replaced by a regular file [Path] %s\n",
                     target.c_str());
        } else if (S_ISREG(st.st_mode)) {
            existed = true;
        } else {
            OV_TRACE("ReplaceFileContents() Error! Not a regular file [Path] %s\n", target.c_str());
            errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            return false;
        }
    }
    std::string::size_type slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    SweepStaleTemps(folder, base);

    ReplaceStep step = ReplaceStep::Create;
    auto fail = [&](int e, const std::string& tmp) {
        if (!tmp.empty())
            ::unlink(tmp.c_str());
        OV_TRACE("ReplaceFileContents() Error! [Path] %s [Step] %s [errno] %d\n", target.c_str(),
                 StepName(step), e);
        errno = e;
        return false;
    };

    std::string tmp;
    int fd = -1;
    if (int e = Fault(step); e != 0)
        return fail(e, "");
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = folder + "/." + base + ".tmp" + std::to_string(::getpid()) + "-" +
              std::to_string(g_tempCounter.fetch_add(1));
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return fail(errno, "");
    }
    if (fd < 0)
        return fail(EEXIST, "");

    int err = 0;
    step = ReplaceStep::Write;
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    err = Fault(step);
    while (err == 0 && left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n == 0 ? ENOSPC : errno;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (err == 0 && existed) {
        // Keep the owner and the permissions of the file being replaced.
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Not permitted for an ordinary user on another's file; the mode still holds.
        }
        if (::fchmod(fd, st.st_mode & 07777) != 0)
            err = errno;
    }
    if (err == 0) {
        step = ReplaceStep::Fsync;
        err = Fault(step);
        if (err == 0 && ::fsync(fd) != 0)
            err = errno;
    }
    if (err == 0) {
        step = ReplaceStep::Close;
        err = Fault(step);
    }
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0) {
        step = ReplaceStep::Rename;
        err = Fault(step);
        if (err == 0 && ::rename(tmp.c_str(), target.c_str()) != 0)
            err = errno;
    }
    if (err != 0)
        return fail(err, tmp);
    int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

}  // namespace ov
