#pragma once
// The program's icon, our own artwork: a lit marker in a camera's eye, three
// discs on a 32-unit square. The window, the tray and the installed icons
// (tools/mkicons: PNGs of every size and an SVG) are all drawn from here.
#include <QColor>
#include <QPainter>
#include <QRectF>

#include <array>
#include <cstdio>
#include <string>

namespace app {

struct IconDisc {
    double cx, cy, r; // in units of a 32-unit square
    int red, green, blue;
};
inline constexpr std::array<IconDisc, 3> kProgramIconDiscs{{
    {16, 16, 15, 12, 9, 86},      // the camera's body
    {16, 16, 7, 102, 164, 245},   // its eye
    {16, 16, 3, 255, 255, 255},   // the lit marker
}};

// Paints the icon over a `size` x `size` square from the painter's origin.
inline void PaintProgramIcon(QPainter& p, int size)
{
    const double scale = size / 32.0;
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (const IconDisc& d : kProgramIconDiscs) {
        p.setBrush(QColor(d.red, d.green, d.blue));
        p.drawEllipse(QRectF((d.cx - d.r) * scale, (d.cy - d.r) * scale, 2 * d.r * scale, 2 * d.r * scale));
    }
}

// The same icon as a scalable SVG document.
inline std::string ProgramIconSvg()
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\" viewBox=\"0 0 32 32\">\n";
    for (const IconDisc& d : kProgramIconDiscs) {
        char line[128];
        std::snprintf(line, sizeof line, "  <circle cx=\"%g\" cy=\"%g\" r=\"%g\" fill=\"#%02x%02x%02x\"/>\n", d.cx, d.cy,
                      d.r, d.red, d.green, d.blue);
        out += line;
    }
    return out + "</svg>\n";
}

} // namespace app
