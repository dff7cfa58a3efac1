// The list of stored states as the instrument sends it ("syst:bootstate?"),
// from the main window's reply handling to the state dialog that shows it.
// Whatever the reply, each cell shows its field as received (LNA and IF as
// their captions), or stays empty when the reply has no such field.
#include "connectiontypes.h"
#include "finding.h"
#include "mainwindow.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <cstdint>

namespace
{

MainWindow *window;

QString cell(const QString &name)
{
    auto *label = window->findChild<QLabel *>(name);
    FUZZ_CHECK(label && label->textFormat() == Qt::PlainText);
    return label->text();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv);
    // The window looks for its settings file in the working folder.
    static QTemporaryDir workdir;
    QDir::setCurrent(workdir.path());
    window = new MainWindow;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString reply = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    window->handleQueryResponse(reply, MODE_STATE_LIST);
    FUZZ_CHECK(QMetaObject::invokeMethod(window, "on_loadStateButton_clicked"));

    const QStringList states = reply.split(QLatin1Char(';'), Qt::KeepEmptyParts);
    for (int row = 1; row <= 5; ++row) {
        const QStringList fields = states.value(row - 1).split(QLatin1Char(','));
        const bool listed = row <= states.size();
        const auto shown = [&](int index) { return listed ? fields.value(index) : QString(); };
        const auto caption = [&](int index, const char *code, const char *is, const char *isNot) {
            if (!listed || index >= fields.size())
                return QString();
            return QString::fromLatin1(fields.at(index) == QLatin1String(code) ? is : isNot);
        };
        FUZZ_CHECK(cell(QStringLiteral("tune%1").arg(row)) == shown(0));
        FUZZ_CHECK(cell(QStringLiteral("atten%1").arg(row)) == shown(1));
        FUZZ_CHECK(cell(QStringLiteral("lna%1").arg(row)) == caption(2, "0", "ON", "OFF"));
        FUZZ_CHECK(cell(QStringLiteral("ifFreq_%1").arg(row)) == caption(3, "1", "300", "187"));
    }
    window->findChild<QDialog *>(QStringLiteral("StateSelect"))->hide();
    return 0;
}
