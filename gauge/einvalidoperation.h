#pragma once
// The error of an operation that a component refuses in its current state, such as a gauge range
// whose minimum would exceed its maximum.

#include <stdexcept>
#include <string>

namespace veltrane {

class EInvalidOperation : public std::runtime_error {
public:
    explicit EInvalidOperation(const std::string& message) : std::runtime_error(message) {}
};

} // namespace veltrane
