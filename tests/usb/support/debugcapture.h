#ifndef DEBUGCAPTURE_H
#define DEBUGCAPTURE_H

#include <QStringList>
#include <QtGlobal>

// Collects the debug lines written while it exists, in order, instead of
// printing them; other messages pass on to the previous handler.
class DebugCapture
{
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    const QStringList &lines() const { return collected; }
    void clear() { collected.clear(); }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text);

    static DebugCapture *active;
    QtMessageHandler previous;
    DebugCapture *outer;
    QStringList collected;
};

#endif
