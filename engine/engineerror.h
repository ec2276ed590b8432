#pragma once
// A failure of a step of a file's command, thrown between the engine's own units; the command gives
// it back as a value (see fileresult.h).

#include "engine/fileresult.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace veltrane {

class EngineError : public std::runtime_error {
public:
    // `reason`, when given, is what the failure says in brackets when it stops an undo, if not its
    // Reason.
    explicit EngineError(FileFailure failure, std::string reason = {})
        : std::runtime_error(failure.Reason), m_failure(std::move(failure)),
          m_reason(reason.empty() ? m_failure.Reason : std::move(reason)) {}

    const FileFailure& failure() const { return m_failure; }
    FileFailure& failure() { return m_failure; }
    const std::string& reason() const { return m_reason; }

private:
    FileFailure m_failure;
    std::string m_reason;
};

} // namespace veltrane
