// SPDX-License-Identifier: AGPL-3.0-or-later
// Helpers shared by the test suites: private temporary folders, whole-file reads
// and writes, a capture of the trace file, programs of the build, and children
// run under an alarm or killed at random.
#pragma once

#include <functional>
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
// Names of the entries of a folder, sorted; empty when it cannot be read.
std::vector<std::string> ListFolder(const std::string& folder);

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

// A program of the build: in $ORMAVIEW_TEST_BIN_DIR/bin (ctest sets it), else
// beside the running test.
std::string BuildProgram(const std::string& name);

// Runs body in a forked child under an alarm of the given seconds, so that a
// call that waits fails the test instead of hanging it; the child's exit code,
// or -signal.
int InChild(const std::function<int()>& body, unsigned alarmSeconds = 10);

// Calls fn every 10 ms until it returns true; false after 30 s.
bool PollFor(const std::function<bool()>& fn);

// Waits (at most 30 s) until the file exists and is not empty; returns its text.
std::string WaitForFile(const std::string& path);

// A running program (argv[0] a path); killed (SIGKILL) and reaped on destruction
// when still running.
class Child {
public:
    explicit Child(std::vector<std::string> args);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    void Signal(int sig);
    // Exit status (128 + signal when killed); -1 when it did not end within 30 s.
    int Wait();
    bool Running();  // reaps it when it has ended

private:
    int m_pid = -1, m_status = -1;
};

// Kills a child that calls save(g) without pause at a random point (seeded), kills
// times. check(&gen) tells whether the file holds one whole generation and which.
// Fails the test on a torn file, a generation from nowhere, or temp files in
// folder that outlive the next save; returns how many kills left one behind.
int KillLoop(int kills, unsigned seed, const std::string& folder, const std::function<void(int)>& save,
             const std::function<bool(int*)>& check);

}  // namespace ovtest
