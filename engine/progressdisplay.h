#pragma once
// What the in-place pass needs of a progress display: exactly these two operations.

namespace veltrane {

class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    virtual void MakeVisible() = 0;
    // The figure may exceed 100 after the last block; the display clamps it.
    virtual void SetProgress(int figure) = 0;
};

} // namespace veltrane
