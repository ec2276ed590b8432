#pragma once
// Where veltrane-cli gets its key: asked for on the terminal without echo, or the first line of
// standard input or of a key file. Each gives the key bytes, or nothing with `problem` saying why.

#include "engine/secretmemory.h"

#include <optional>
#include <string>

#include <sys/types.h>

namespace veltrane {

// The file a key was read from, so that the batch can leave it alone; empty for a terminal or a pipe.
struct KeyFileIdentity {
    bool Known = false;
    dev_t Device = 0;
    ino_t Inode = 0;
};

// Asks "Key: " and, when `verify` is set, "Verify: " as well; the two must give the same key. Echo
// stays off while the key is typed, also after the program was suspended and resumed.
std::optional<SecretBytes> KeyFromTerminal(bool verify, std::string& problem);
std::optional<SecretBytes> KeyFromStandardInput(std::string& problem, KeyFileIdentity& identity);
std::optional<SecretBytes> KeyFromFile(const std::string& path, std::string& problem, KeyFileIdentity& identity);

} // namespace veltrane
