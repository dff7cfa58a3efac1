// Redraws the panel's pictures. Usage: draw-artwork [output folder]
// (default: the source tree's resources/Pictures). Needs no display; run it
// with QT_QPA_PLATFORM=offscreen.
#include "artwork.h"

#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString dir = args.size() > 1 ? args.at(1) : QStringLiteral(ARTWORK_DEFAULT_DIR);

    QStringList errors;
    const bool ok = Artwork::writeAll(dir, &errors);
    QTextStream err(stderr);
    for (const QString &line : errors)
        err << line << '\n';
    if (ok)
        QTextStream(stdout) << "wrote " << Artwork::fileNames().size() << " pictures to " << dir
                            << '\n';
    return ok ? 0 : 1;
}
