#ifndef PANELSCREENSHOT_H
#define PANELSCREENSHOT_H

#include <QString>
#include <QtGlobal>

// Photographs the main window as an operator sees it once it has connected
// over TCP/IP and shown a first status reply. The window runs in a temporary
// working folder whose settings file points at the instrument on the given
// loopback port.
class PanelScreenshot
{
public:
    PanelScreenshot(quint16 instrumentPort, int timeoutMs);

    // Writes the picture as PNG to `pngPath`; relative paths are taken from
    // the current folder and missing folders are created. On failure nothing
    // is written and `error` (may be null) says which stage did not complete.
    bool capture(const QString &pngPath, QString *error);

private:
    quint16 port;
    int timeoutMs;
};

#endif
