#pragma once
// What a file's command shows of its pass (see filesequences.h): the display made visible as the pass
// begins, the figure after every block, and word that the pass is through.

namespace veltrane {

class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    virtual void MakeVisible() = 0;
    // The figure may exceed 100 after the last block; the display clamps it.
    virtual void SetProgress(int figure) = 0;
    // The pass is through: what remains (the trailer written or cut) takes a moment.
    virtual void PassDone() {}
};

} // namespace veltrane
