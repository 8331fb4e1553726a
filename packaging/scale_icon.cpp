// Build-time helper: writes a larger copy of a small pixel-art icon, each
// pixel made into a square block (nearest neighbour), so the picture keeps
// its hard edges. Usage: scale_icon <input.png> <output.png> <factor>
#include <QImage>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <input.png> <output.png> <factor>\n", argv[0]);
        return 2;
    }
    const int factor = std::atoi(argv[3]);
    if (factor < 1 || factor > 64) {
        std::fprintf(stderr, "scale_icon: bad factor '%s'\n", argv[3]);
        return 2;
    }
    QImage source;
    if (!source.load(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "scale_icon: cannot read %s\n", argv[1]);
        return 1;
    }
    const QImage scaled = source.convertToFormat(QImage::Format_ARGB32)
                              .scaled(source.width() * factor, source.height() * factor,
                                      Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (!scaled.save(QString::fromLocal8Bit(argv[2]), "PNG", 9)) {
        std::fprintf(stderr, "scale_icon: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
