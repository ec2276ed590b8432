#include "cli/terminaltext.h"

#include <algorithm>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <vector>

#include <langinfo.h>

namespace veltrane {

namespace {

void AppendOctal(std::string& out, unsigned char byte) {
    out += '\\';
    out += static_cast<char>('0' + (byte >> 6));
    out += static_cast<char>('0' + ((byte >> 3) & 7));
    out += static_cast<char>('0' + (byte & 7));
}

void AppendAscii(std::string& out, unsigned char byte) {
    // The backslash and the controls with a letter escape of their own; other controls in octal.
    constexpr std::string_view escaped = "\\\a\b\f\n\r\t\v";
    constexpr std::string_view letters = "\\abfnrtv";
    if (const std::size_t at = escaped.find(static_cast<char>(byte)); at != std::string_view::npos) {
        out += '\\';
        out += letters[at];
    } else if (byte < 0x20 || byte == 0x7F) {
        AppendOctal(out, byte);
    } else {
        out += static_cast<char>(byte);
    }
}

} // namespace

std::string EscapedName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    std::mbstate_t state{};
    for (std::size_t at = 0; at < name.size();) {
        const auto byte = static_cast<unsigned char>(name[at]);
        if (byte < 0x80) {
            AppendAscii(out, byte);
            ++at;
            continue;
        }
        wchar_t character = 0;
        const std::size_t length = std::mbrtowc(&character, name.data() + at, name.size() - at, &state);
        if (length == static_cast<std::size_t>(-1) || length == static_cast<std::size_t>(-2) || length == 0) {
            // Not a character: this byte alone, then try again from the next one.
            state = std::mbstate_t{};
            AppendOctal(out, byte);
            ++at;
            continue;
        }
        if (std::iswprint(static_cast<wint_t>(character))) {
            out.append(name.substr(at, length));
        } else {
            for (std::size_t n = 0; n < length; ++n)
                AppendOctal(out, static_cast<unsigned char>(name[at + n]));
        }
        at += length;
    }
    return out;
}

std::string FitToColumns(std::string_view text, int columns) {
    // The text's characters: where each starts and how many columns it takes.
    struct Character {
        std::size_t Offset;
        int Width;
    };
    std::vector<Character> characters;
    std::vector<wchar_t> wide;
    std::mbstate_t state{};
    for (std::size_t at = 0; at < text.size();) {
        wchar_t character = 0;
        std::size_t length = std::mbrtowc(&character, text.data() + at, text.size() - at, &state);
        if (length == static_cast<std::size_t>(-1) || length == static_cast<std::size_t>(-2) || length == 0) {
            state = std::mbstate_t{};
            length = 1;
            character = L'?';
        }
        const int width = ::wcwidth(character);
        characters.push_back({at, width < 0 ? 1 : width});
        wide.push_back(character);
        at += length;
    }
    wide.push_back(L'\0');
    const int total = ::wcswidth(wide.data(), wide.size());
    if (total >= 0 && total <= columns)
        return std::string(text);

    constexpr std::string_view ellipsis = "...";
    int room = columns - static_cast<int>(ellipsis.size());
    std::size_t start = text.size();
    for (auto it = characters.rbegin(); it != characters.rend() && it->Width <= room; ++it) {
        room -= it->Width;
        start = it->Offset;
    }
    if (columns < static_cast<int>(ellipsis.size()))
        return std::string(ellipsis.substr(0, static_cast<std::size_t>(std::max(columns, 0))));
    return std::string(ellipsis) + std::string(text.substr(start));
}

void UseUtf8CharacterType() {
    const char* chosen = std::setlocale(LC_CTYPE, "");
    if (chosen != nullptr && std::strcmp(::nl_langinfo(CODESET), "UTF-8") == 0)
        return;
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr)
        std::setlocale(LC_CTYPE, "C");
}

} // namespace veltrane
