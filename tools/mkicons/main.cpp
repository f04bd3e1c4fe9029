// mkicons <folder>: writes the program's icon for the icon theme,
// <folder>/hicolor/<n>x<n>/apps/vistrel.png for each size and
// <folder>/hicolor/scalable/apps/vistrel.svg.
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/program_icon.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: mkicons <folder>\n", stderr);
        return 2;
    }
    const std::filesystem::path root = std::filesystem::path(argv[1]) / "hicolor";
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string box = std::to_string(size) + "x" + std::to_string(size);
        const std::filesystem::path folder = root / box / "apps";
        std::filesystem::create_directories(folder);
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            app::PaintProgramIcon(p, size);
        }
        if (!image.save(QString::fromStdString((folder / "vistrel.png").string()), "PNG")) {
            std::fprintf(stderr, "mkicons: cannot write %s\n", (folder / "vistrel.png").c_str());
            return 1;
        }
    }
    const std::filesystem::path scalable = root / "scalable" / "apps";
    std::filesystem::create_directories(scalable);
    std::ofstream svg(scalable / "vistrel.svg", std::ios::binary | std::ios::trunc);
    svg << app::ProgramIconSvg();
    return svg.good() ? 0 : 1;
}
