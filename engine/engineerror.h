#pragma once
// An unexpected file failure (read, write, append, truncation). The message names the file and
// the system's reason, and says what state the file was left in when it could not be restored.

#include <stdexcept>
#include <string>
#include <utility>

namespace veltrane {

class EngineError : public std::runtime_error {
public:
    explicit EngineError(const std::string& message, std::string reason = {})
        : std::runtime_error(message), m_reason(std::move(reason)) {}

    // The system's reason alone ("No space left on device"), when the failure came from the system.
    const std::string& reason() const { return m_reason; }

private:
    std::string m_reason;
};

} // namespace veltrane
