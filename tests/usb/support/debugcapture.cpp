#include "debugcapture.h"

DebugCapture *DebugCapture::active = nullptr;

DebugCapture::DebugCapture() : outer(active)
{
    active = this;
    previous = qInstallMessageHandler(&DebugCapture::handle);
}

DebugCapture::~DebugCapture()
{
    qInstallMessageHandler(previous);
    active = outer;
}

void DebugCapture::handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg && active) {
        active->collected << text;
        return;
    }
    if (active && active->previous)
        active->previous(type, context, text);
}
