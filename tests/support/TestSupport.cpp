// SPDX-License-Identifier: AGPL-3.0-or-later
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace ovtest {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/ovtest-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make read-only folders writable again so that they can be removed.
    for (auto it = fs::recursive_directory_iterator(m_path, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_path, ec);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    fs::path p(path);
    if (p.has_parent_path())
        fs::create_directories(p.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

void MakeDirs(const std::string& path) {
    fs::create_directories(path);
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TraceCapture::TraceCapture() : m_path(m_dir / "trace.log"), m_env("ORMAVIEW_TRACE_FILE", m_path.c_str()) {}

std::string TraceCapture::Text() const {
    return ReadFile(m_path);
}

bool TraceCapture::Contains(const std::string& text) const {
    return Text().find(text) != std::string::npos;
}

void TraceCapture::Clear() {
    std::ofstream(m_path, std::ios::trunc);
}

std::string BuildProgram(const std::string& name) {
    if (const char* env = std::getenv("ORMAVIEW_TEST_BIN_DIR"); env != nullptr && *env != '\0')
        return std::string(env) + "/bin/" + name;
    char self[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string path(self, n > 0 ? static_cast<std::size_t>(n) : 0);
    return path.substr(0, path.rfind('/') + 1) + name;
}

int InChild(const std::function<int()>& body, unsigned alarmSeconds) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(alarmSeconds);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

bool PollFor(const std::function<bool()>& fn) {
    for (int i = 0; i < 3000; ++i) {
        if (fn())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string WaitForFile(const std::string& path) {
    std::string text;
    PollFor([&] { return Exists(path) && !(text = ReadFile(path)).empty(); });
    return text;
}

Child::Child(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
}

Child::~Child() {
    if (m_pid > 0)
        ::kill(m_pid, SIGKILL), ::waitpid(m_pid, nullptr, 0);
}

void Child::Signal(int sig) {
    if (m_pid > 0)
        ::kill(m_pid, sig);
}

bool Child::Running() {
    int status = 0;
    if (m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return m_pid > 0;
}

int Child::Wait() {
    PollFor([&] { return !Running(); });
    return m_pid > 0 ? -1 : m_status;
}

namespace {
int TempFiles(const std::string& folder) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(folder))
        n += e.path().filename().string().find(".tmp") != std::string::npos;
    return n;
}
}  // namespace

int KillLoop(int kills, unsigned seed, const std::string& folder, const std::function<void(int)>& save,
             const std::function<bool(int*)>& check) {
    std::mt19937 rng(seed);
    int gen = 1, tempsLeft = 0;
    save(gen);
    for (int i = 0; i < kills; ++i) {
        // The child writes generations above start; the file holds gen before.
        const int before = gen, start = (i + 2) * 1000000;
        pid_t pid = ::fork();
        if (pid == 0) {
            for (int g = start + 1;; ++g) save(g);
        }
        ::usleep(std::uniform_int_distribution<int>(0, 4000)(rng));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        if (!check(&gen)) {
            ADD_FAILURE() << "torn file after kill " << i;
            return tempsLeft;
        }
        EXPECT_TRUE(gen == before || gen > start) << "kill " << i << ": " << gen;
        const int temps = TempFiles(folder);
        EXPECT_LE(temps, 1) << "the temp files of earlier kills are swept by the next save";
        tempsLeft += temps > 0;
    }
    save(gen + 1);
    EXPECT_EQ(0, TempFiles(folder)) << "left after the last save";
    return tempsLeft;
}

}  // namespace ovtest
