// SPDX-License-Identifier: AGPL-3.0-or-later
// Sets (or, for a null value, unsets) an environment variable for the life of the object.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "win32/CodePage.h"

namespace ovtest {

class EnvGuard {
public:
    EnvGuard(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        Set(value);
    }
    ~EnvGuard() { Set(m_old ? m_old->c_str() : nullptr); }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    void Set(const char* value) { value ? setenv(m_name.c_str(), value, 1) : unsetenv(m_name.c_str()); }
    std::string m_name;
    std::optional<std::string> m_old;
};

// CP932 bytes of a UTF-8 literal.
inline std::string Sj(const char* utf8) {
    return ov::Utf8ToCp932(utf8).value();
}

}  // namespace ovtest
