// SPDX-License-Identifier: AGPL-3.0-or-later
// Sets (or unsets) an environment variable for the life of the object.
#pragma once

#include <cstdlib>
#include <string>

#include "win32/CodePage.h"

namespace ovtest {

class EnvGuard {
public:
    EnvGuard(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
            m_hadOld = true;
        }
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvGuard() {
        if (m_hadOld)
            setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    std::string m_name;
    std::string m_old;
    bool m_hadOld = false;
};

// CP932 bytes of a UTF-8 literal.
inline std::string Sj(const char* utf8) {
    return ov::Utf8ToCp932(utf8).value();
}

}  // namespace ovtest
