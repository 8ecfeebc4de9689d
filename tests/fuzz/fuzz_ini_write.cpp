// SPDX-License-Identifier: AGPL-3.0-or-later
// The INI writer on any file: a write of a plain key and value must read back as
// written, and every other section's keys must stay as they were.
// Input: section NUL key NUL value NUL file bytes.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "win32/PrivateProfile.h"

namespace {

bool Plain(const std::string& s) {
    if (s.empty() || s.size() > 64)
        return false;
    for (char c : s) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

std::string Read(const char* section, const char* key, const std::string& path) {
    std::vector<char> buf(8192);
    DWORD n = GetPrivateProfileStringA(section, key, "\x01", buf.data(), 8192, path.c_str());
    return std::string(buf.data(), n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = ovfuzz::Text(data, size);
    const std::vector<std::string> parts = ovfuzz::Split(text, '\0');
    if (parts.size() < 4)
        return 0;
    const std::size_t head = parts[0].size() + parts[1].size() + parts[2].size() + 3;
    const std::string path = ovfuzz::ScratchDir() + "/write.ini";
    ovfuzz::WriteAll(path, data + head, size - head);
    const std::string& section = parts[0];
    const std::string& key = parts[1];
    const std::string& value = parts[2];
    const bool plain = Plain(section) && Plain(key) && Plain(value);

    // A probe key of another section, read before and after.
    const std::string probe = Read("Other", "Probe", path);
    const BOOL ok = WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str());
    ovfuzz::Check(!plain || (ok && Read(section.c_str(), key.c_str(), path) == value));
    std::string lower = section;
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    ovfuzz::Check(!plain || lower == "other" || Read("Other", "Probe", path) == probe);

    // Several keys at once, then deletions.
    std::vector<ov::ProfileWrite> writes = {{section.c_str(), "A", value.c_str()},
                                            {"Second", key.c_str(), section.c_str()},
                                            {section.c_str(), key.c_str(), nullptr}};
    if (ov::WritePrivateProfileKeys(writes, path.c_str()) && plain) {
        ovfuzz::Check(Read(section.c_str(), key.c_str(), path) == "\x01" || key == "A" || key == "a");
    }
    WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, path.c_str());
    return 0;
}
