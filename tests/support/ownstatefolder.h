#pragma once
// Every test process keeps its progress records in a folder that belongs to the run: CTest names
// one per suite (XDG_STATE_HOME); a suite started by hand without it gets a fresh temporary folder,
// removed when the suite ends, instead of the user's own ~/.local/state. One instance lives in
// ownstatefolder.cpp, which veltrane_add_test links into each suite.

#include <string>

#include <sys/types.h>

namespace veltrane::testsupport {

class OwnStateFolder {
public:
    OwnStateFolder();
    ~OwnStateFolder();
    OwnStateFolder(const OwnStateFolder&) = delete;
    OwnStateFolder& operator=(const OwnStateFolder&) = delete;

private:
    std::string m_made; // empty when the environment named a folder already
    pid_t m_owner = 0;
};

} // namespace veltrane::testsupport
