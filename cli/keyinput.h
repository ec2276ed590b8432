#pragma once
// Where veltrane-cli gets its key text: prompted twice on a terminal without echo, or the first
// line of standard input or of a key file.

#include <optional>
#include <string>

// The key text, or nothing with `problem` saying why (unreadable, the two entries differ...).
std::optional<std::string> KeyFromTerminal(std::string& problem);
std::optional<std::string> KeyFromStandardInput(std::string& problem);
std::optional<std::string> KeyFromFile(const std::string& path, std::string& problem);
