// SPDX-License-Identifier: AGPL-3.0-or-later
// Helpers shared by the test suites: private temporary folders, whole-file reads
// and writes, and a capture of the trace file.
#pragma once

#include <string>
#include <vector>

#include "support/EnvGuard.h"

namespace ovtest {

// A fresh folder under $TMPDIR, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    // Path + "/" + name.
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
void MakeDirs(const std::string& path);

// Points $ORMAVIEW_TRACE_FILE at a fresh file for the life of the object and
// restores the previous value afterwards.
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture() = default;
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;
    // The whole trace text written so far.
    std::string Text() const;
    // True when some trace line contains the text.
    bool Contains(const std::string& text) const;
    void Clear();
    const std::string& Path() const { return m_path; }

private:
    TempDir m_dir;
    std::string m_path;
    EnvGuard m_env;
};

}  // namespace ovtest
