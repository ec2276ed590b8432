#pragma once
// An unexpected file failure (read, write, append, truncation). The message names the file and
// the system's reason, and says what state the file was left in when it could not be restored.

#include <stdexcept>
#include <string>

namespace veltrane {

class EngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace veltrane
