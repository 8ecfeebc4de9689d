// SPDX-License-Identifier: AGPL-3.0-or-later
#include "app/StartEnvironment.h"

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// Where libdbus looks for the launcher before it searches PATH.
constexpr const char* kBuiltInLauncher = "/usr/bin/dbus-launch";

bool OnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    for (std::string_view rest = path != nullptr ? path : ""; !rest.empty();) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (!folder.empty() && ::access((std::string(folder) + "/" + name).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

}  // namespace

bool ov::MarkSessionBusAbsentWithoutLauncher() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0')
        return false;
    if (::access(kBuiltInLauncher, X_OK) == 0 || OnPath("dbus-launch"))
        return false;
    return ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1) == 0;
}
