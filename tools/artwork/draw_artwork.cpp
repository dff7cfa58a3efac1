// Redraws the panel's pictures. Usage: draw-artwork [output folder]
// (default: the source tree's resources/Pictures), or
// draw-artwork --app-icons FOLDER NAME for the desktop icon in icon theme
// layout (FOLDER/48x48/apps/NAME.png ...). Needs no display; run it with
// QT_QPA_PLATFORM=offscreen.
#include "artwork.h"

#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool appIcons = args.size() == 4 && args.at(1) == QLatin1String("--app-icons");
    const QString dir = appIcons          ? args.at(2)
                        : args.size() > 1 ? args.at(1)
                                          : QStringLiteral(ARTWORK_DEFAULT_DIR);

    QStringList errors;
    const bool ok = appIcons ? Artwork::writeAppIcons(dir, args.at(3), &errors)
                             : Artwork::writeAll(dir, &errors);
    QTextStream err(stderr);
    for (const QString &line : errors)
        err << line << '\n';
    if (ok && !appIcons)
        QTextStream(stdout) << "wrote " << Artwork::fileNames().size() << " pictures to " << dir
                            << '\n';
    return ok ? 0 : 1;
}
