#include "tests/support/ownstatefolder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace veltrane::testsupport {

namespace {

// Constructed before main, so before any engine unit looks up where its records go.
OwnStateFolder TheFolder;

} // namespace

OwnStateFolder::OwnStateFolder() {
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error)
        base = "/tmp";
    std::string pattern = (base / "veltrane-test-state.XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
        std::perror("no state folder of the test's own");
        std::abort();
    }
    m_made = name.data();
    m_owner = ::getpid();
    ::setenv("XDG_STATE_HOME", m_made.c_str(), 1);
}

OwnStateFolder::~OwnStateFolder() {
    // A forked child that returns through exit() leaves the folder to the suite that made it.
    if (::getpid() != m_owner)
        return;
    std::error_code ignored;
    std::filesystem::remove_all(m_made, ignored);
}

} // namespace veltrane::testsupport
