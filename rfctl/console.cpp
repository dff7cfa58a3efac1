#include "console.h"

#include <QEventLoop>
#include <QTimer>
#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace
{
// A Windows console shows bytes in its own code page, never UTF-8, so text
// for a console goes to it as UTF-16; text for a pipe or a file is UTF-8.
void write(std::FILE *stream, const QString &text)
{
#ifdef Q_OS_WIN
    const HANDLE console = GetStdHandle(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(console, &mode)) {
        DWORD written = 0;
        WriteConsoleW(console, reinterpret_cast<const wchar_t *>(text.utf16()), DWORD(text.size()),
                      &written, nullptr);
        return;
    }
#endif
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}
} // namespace

void printText(const QString &text)
{
    write(stdout, text);
}

void printLine(const QString &line)
{
    write(stdout, line + '\n');
}

int fail(int code, const QString &message)
{
    write(stderr, "rfctl: " + message + '\n');
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
