// SPDX-License-Identifier: AGPL-3.0-or-later
// The one error model: operations return int codes; the three-level guard turns
// exceptions into codes with their trace lines, so nothing propagates to callers.
#pragma once

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "base/ErrorCodes.h"
#include "base/Trace.h"
#include "base/WinTypes.h"

namespace ov {

// The framework exception of this system: raised by our own layers for a failure
// that is neither out-of-memory nor a programming fault (the -4 class of errors).
class FrameworkException : public std::exception {
public:
    explicit FrameworkException(std::string message) : m_strMessage(std::move(message)) {}
    const char* what() const noexcept override { return m_strMessage.c_str(); }
    // Copies the message into buf (cut to size-1 bytes), as the framework does.
    BOOL GetErrorMessage(char* buf, unsigned size) const noexcept;

private:
    std::string m_strMessage;
};

// Results given for the three kinds of exception.
struct GuardCodes {
    int memory = kErrNoMemory;
    int framework = kErrFramework;
    int other = kErrException;
};

void TraceMemoryException(const char* file, int line) noexcept;
void TraceFrameworkException(const char* file, int line, const FrameworkException& e) noexcept;
void TraceOtherException(const char* file, int line, int lastError) noexcept;

// Runs body (returning int) under the guard: std::bad_alloc -> codes.memory with
// "CMemoryException Occurred!\n"; FrameworkException -> codes.framework with
// "CException Occurred! [Message] %s\n"; anything else -> codes.other with
// "UnException Occurred! [ErrorCode] %d\n" (errno).
template <class Body>
int GuardedCall(const char* file, int line, Body&& body, GuardCodes codes = {}) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (const std::bad_alloc&) {
        TraceMemoryException(file, line);
        return codes.memory;
    } catch (const FrameworkException& e) {
        TraceFrameworkException(file, line, e);
        return codes.framework;
    } catch (...) {
        TraceOtherException(file, line, GetLastError());
        return codes.other;
    }
}

}  // namespace ov

// Guard the enclosing operation's body: return OV_GUARDED([&] { ... });
#define OV_GUARDED(...) ::ov::GuardedCall(OV_TRACE_SOURCE, __LINE__, __VA_ARGS__)
