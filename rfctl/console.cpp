#include "console.h"

#include <QEventLoop>
#include <QTimer>
#include <cstdio>

void printLine(const QString &line)
{
    std::fputs((line + '\n').toUtf8().constData(), stdout);
    std::fflush(stdout);
}

int fail(int code, const QString &message)
{
    std::fputs(("rfctl: " + message + '\n').toUtf8().constData(), stderr);
    std::fflush(stderr);
    return code;
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

void waitMs(qint64 ms)
{
    if (ms <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(int(ms), &loop, &QEventLoop::quit);
    loop.exec();
}
