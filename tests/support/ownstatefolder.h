#pragma once
// Every run of a suite keeps its progress records, and those of the tools it starts, in a fresh
// temporary folder of its own (XDG_STATE_HOME), removed when the suite ends: never in the user's own
// ~/.local/state, and never among the records an earlier run left behind when it failed or was
// killed. One instance lives in ownstatefolder.cpp, which veltrane_add_test links into each suite.

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
    std::string m_made;
    pid_t m_owner = 0;
};

} // namespace veltrane::testsupport
