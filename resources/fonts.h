#pragma once
// The program's three type faces, each asked for by its own name first and then by metric- or
// look-alike faces from Debian's font packages, at pixel sizes so they match the designed layout.

#include <QFont>

namespace veltrane {

struct FontStyle {
    bool bold = false;
    bool italic = false;
};

// Times New Roman, else Liberation Serif.
QFont SerifFont(int pixelSize, FontStyle style = {});
// MS Sans Serif, else Liberation Sans.
QFont SansFont(int pixelSize, FontStyle style = {});
// Lucida Casual, else Comic Neue, else Liberation Sans.
QFont CasualFont(int pixelSize, FontStyle style = {});

} // namespace veltrane
