// SPDX-License-Identifier: AGPL-3.0-or-later
#include "base/ErrorGuard.h"

#include <cstring>

namespace ov {

BOOL FrameworkException::GetErrorMessage(char* buf, unsigned size) const noexcept {
    if (buf == nullptr || size == 0)
        return FALSE;
    std::size_t n = m_strMessage.size();
    if (n > size - 1)
        n = size - 1;
    std::memcpy(buf, m_strMessage.data(), n);
    buf[n] = '\0';
    return TRUE;
}

void TraceMemoryException(const char* file, int line) noexcept {
    ::TraceWrite(g_szWorkDeskDatPath, OV_MODULE_NAME, file, line, "CMemoryException Occurred!\n");
}

void TraceFrameworkException(const char* file, int line, const FrameworkException& e) noexcept {
    char szMessage[MAX_PATH] = {};
    e.GetErrorMessage(szMessage, sizeof(szMessage));
    ::TraceWrite(g_szWorkDeskDatPath, OV_MODULE_NAME, file, line, "CException Occurred! [Message] %s\n",
                 szMessage);
}

void TraceOtherException(const char* file, int line, int lastError) noexcept {
    ::TraceWrite(g_szWorkDeskDatPath, OV_MODULE_NAME, file, line, "UnException Occurred! [ErrorCode] %d\n",
                 lastError);
}

}  // namespace ov
