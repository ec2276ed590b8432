#pragma once
// The ways of running the generator's steps over whole blocks, all giving the same bytes, and the
// one rule that decides which of them a process uses: the kernel that VELTRANE_KERNEL names where
// the build has it (for tests and bug reports), else the fastest of the candidates, timed in turns
// at first use. Which is fastest depends on the core: docs/performance.md has the figures.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace veltrane {

enum class KeystreamKernel { Portable, Unlagged, Lagged, Preloaded, Wide, Compact };

// The kernels this build has: the portable steps everywhere, and on x86-64 the others too.
std::span<const KeystreamKernel> BuiltKeystreamKernels();
// The kernel's name, as VELTRANE_KERNEL and the reports spell it.
const char* KeystreamKernelName(KeystreamKernel kernel);
std::optional<KeystreamKernel> KeystreamKernelNamed(std::string_view name);

struct KeystreamKernelChoice {
    KeystreamKernel Kernel = KeystreamKernel::Portable;
    std::string Reason; // in words, for --version --verbose and the benchmark's summary
};

// The rule: the kernel `forced` names (may be null) where this build has it; otherwise every
// candidate is timed on a few chunks in turns, the best time of each kept, and the fastest taken.
KeystreamKernelChoice ChooseKeystreamKernel(const char* forced);

// The choice the process made at its first use of a kernel, by the rule above with VELTRANE_KERNEL.
const KeystreamKernelChoice& FirstUseKeystreamKernel();

// The kernel XorBlock and GenerateBlock use: the first use's choice unless changed since.
KeystreamKernel ActiveKeystreamKernel();
// Makes every generator use `kernel` from now on (to compare them); false, changing nothing, where
// the build lacks it.
bool UseKeystreamKernel(KeystreamKernel kernel);

} // namespace veltrane
