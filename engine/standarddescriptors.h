#pragma once
// Descriptors 0, 1 and 2 as the programs' first step. A process started with one of them closed (a
// daemon, a job runner, `exec >&-` in a script) would hand that number to the next file it opens, and
// everything written to standard output or standard error would then land in that file: in a user's
// file in the middle of a command. Each one that is closed is opened onto /dev/null instead, so that no
// file of the user's can ever be one of them.

namespace veltrane {

// Makes descriptors 0, 1 and 2 valid, opening /dev/null onto any that is closed (or, where there is no
// /dev/null, a descriptor of the root folder, on which every read and write fails). False when one of
// them could not be filled at all: the program must then stop before it opens anything.
bool OpenStandardDescriptors() noexcept;

} // namespace veltrane
