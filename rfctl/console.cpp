#include "console.h"

#include "printabletext.h"

#include <QEventLoop>
#include <QStringList>
#include <QTimer>
#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace
{
// Lines may carry what an instrument sent: each goes out printable, and only
// the line ends of the text itself remain.
QString terminalText(const QString &text)
{
    QStringList lines = text.split('\n');
    for (QString &line : lines)
        line = printableText(line);
    return lines.join('\n');
}

// A Windows console shows bytes in its own code page, never UTF-8, so text
// for a console goes to it as UTF-16; text for a pipe or a file is UTF-8.
void write(std::FILE *stream, const QString &raw)
{
    const QString text = terminalText(raw);
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
