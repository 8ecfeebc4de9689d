// SPDX-License-Identifier: AGPL-3.0-or-later
// The trace log: one line per call, appended with a single write so that lines of
// several viewers never interleave. The destination is looked up on every call so
// that a test (or a user) can redirect it at any time. Nothing here may fail
// visibly: every error is swallowed and errno is left as the caller had it.
#include "sennet/Sennet.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "win32/CodePage.h"

namespace {

constexpr off_t kMaxTraceBytes = 1024 * 1024;  // rotate beyond 1 MiB
constexpr int kKeptFiles = 3;                  // trace.log.1 .. trace.log.3

// The trace file, or "-" for standard error.
std::string Destination() {
    const char* env = std::getenv("ORMAVIEW_TRACE_FILE");
    if (env != nullptr && *env != '\0')
        return env;
    std::string state;
    const char* xdg = std::getenv("XDG_STATE_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        state = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home == '\0')
            return "-";
        state = std::string(home) + "/.local/state";
    }
    return state + "/ormaview/trace.log";
}

// mkdir -p of the folder that holds path.
void MakeParentFolders(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return;
    std::string folder = path.substr(0, slash);
    for (std::string::size_type pos = 1; pos <= folder.size(); ++pos) {
        if (pos == folder.size() || folder[pos] == '/') {
            std::string part = folder.substr(0, pos);
            ::mkdir(part.c_str(), 0777);
        }
    }
}

// Moves trace.log to trace.log.1, .1 to .2, ... when the line would take the file
// past its bound. Two viewers rotating at once lose nothing worse than a
// rotation step.
void RotateIfFull(const std::string& path, std::size_t lineBytes) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    if (st.st_size + static_cast<off_t>(lineBytes) <= kMaxTraceBytes)
        return;
    for (int i = kKeptFiles - 1; i >= 1; --i) {
        std::string from = path + "." + std::to_string(i);
        std::string to = path + "." + std::to_string(i + 1);
        ::rename(from.c_str(), to.c_str());
    }
    ::rename(path.c_str(), (path + ".1").c_str());
}

void WriteAll(int fd, const std::string& bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

std::string TimeStamp() {
    struct timeval tv {};
    ::gettimeofday(&tv, nullptr);
    struct tm tmLocal {};
    ::localtime_r(&tv.tv_sec, &tmLocal);
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%04d-%02d-%02d %02d:%02d:%02d.%03d", tmLocal.tm_year + 1900,
                  tmLocal.tm_mon + 1, tmLocal.tm_mday, tmLocal.tm_hour, tmLocal.tm_min, tmLocal.tm_sec,
                  static_cast<int>(tv.tv_usec / 1000));
    return buf;
}

const char* BaseName(const char* path) {
    if (path == nullptr)
        return "?";
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\')
            base = p + 1;
    }
    return base;
}

std::string FormatText(const char* format, va_list args) {
    if (format == nullptr)
        return std::string();
    va_list copy;
    va_copy(copy, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof(small), format, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    if (static_cast<std::size_t>(n) < sizeof(small))
        return std::string(small, static_cast<std::size_t>(n));
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, args);
    big.resize(static_cast<std::size_t>(n));
    return big;
}

// Appends text with every control character written as an escape (\n, \r, \t,
// else \xHH), so that a line break inside an argument can never start a line of
// its own. (Text comes from CP932, which has no C1 controls or Unicode line
// separators; bytes that do not convert are already written as \xHH.)
void AppendEscaped(std::string* out, const std::string& utf8) {
    static const char kHex[] = "0123456789ABCDEF";
    for (const char ch : utf8) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            *out += "\\n";
        } else if (c == '\r') {
            *out += "\\r";
        } else if (c == '\t') {
            *out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            *out += "\\x";
            *out += kHex[c >> 4];
            *out += kHex[c & 0xF];
        } else {
            *out += static_cast<char>(c);
        }
    }
}

// Builds and writes one line. Text is CP932; the file holds UTF-8. One line break
// that ends the text ends the line; any other control character is escaped.
thread_local bool t_muted = false;

void Emit(const char* moduleName, const char* sourceFile, int line, const char* format, va_list args) {
    if (t_muted)
        return;
    std::string text = ov::Cp932ToUtf8Lossy(FormatText(format, args));
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    std::string out = TimeStamp();
    out += " [" + std::to_string(static_cast<long>(::getpid())) + "] ";
    AppendEscaped(&out, ov::Cp932ToUtf8Lossy(moduleName != nullptr ? moduleName : ""));
    if (sourceFile != nullptr) {
        out += ' ';
        AppendEscaped(&out, ov::Cp932ToUtf8Lossy(BaseName(sourceFile)));
        out += '(' + std::to_string(line) + ')';
    }
    out += ' ';
    AppendEscaped(&out, text);
    out += '\n';

    std::string dest = Destination();
    if (dest == "-") {
        WriteAll(STDERR_FILENO, out);
        return;
    }
    RotateIfFull(dest, out.size());
    int fd = ::open(dest.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0 && errno == ENOENT) {
        MakeParentFolders(dest);
        fd = ::open(dest.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    if (fd < 0)
        return;
    WriteAll(fd, out);
    ::close(fd);
}

}  // namespace

extern "C" int TraceWrite(const char* settingsPath, const char* moduleName, const char* sourceFile, int line,
                          const char* format, ...) {
    (void)settingsPath;  // accepted, NULL or empty alike; the destination is our own
    const int savedErrno = errno;
    va_list args;
    va_start(args, format);
    try {
        Emit(moduleName, sourceFile != nullptr ? sourceFile : "?", line, format, args);
    } catch (...) {
    }
    va_end(args);
    errno = savedErrno;
    return 0;
}

extern "C" int TraceWriteText(const char* settingsPath, const char* moduleName, const char* format, ...) {
    (void)settingsPath;
    const int savedErrno = errno;
    va_list args;
    va_start(args, format);
    try {
        Emit(moduleName, nullptr, 0, format, args);
    } catch (...) {
    }
    va_end(args);
    errno = savedErrno;
    return 0;
}

extern "C" void TraceSetThreadMuted(int muted) {
    t_muted = muted != 0;
}
