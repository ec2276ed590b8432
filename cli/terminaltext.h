#pragma once
// File names and labels made safe and short for a terminal line.

#include <string>
#include <string_view>

namespace veltrane {

// `name` with every byte that is not part of a printable character of the locale's (UTF-8) text
// written as a C escape, as `ls --quoting-style=escape` writes it: \n, \r, \t, \a, \b, \f, \v, \\,
// and \ooo in octal for the rest (other control characters, escape codes, bytes that are not
// UTF-8). Spaces stay as they are, so a name with a carriage return or an escape code cannot fake
// or paint over an output line.
std::string EscapedName(std::string_view name);

// `text` as it is when it takes at most `columns` terminal columns, otherwise "..." and as much of its
// end as fits, cut between whole characters (widths as wcswidth counts them).
std::string FitToColumns(std::string_view text, int columns);

// Sets the character type from the environment, or UTF-8 when that is not UTF-8, so that names in
// UTF-8 show as text whatever the locale.
void UseUtf8CharacterType();

} // namespace veltrane
