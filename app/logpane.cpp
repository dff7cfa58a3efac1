#include "logpane.h"

#include <QDateTime>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextEdit>
#include <memory>

namespace
{
// Rides on the entry's block, so the time goes when the block goes: cleared
// with the pane, or dropped as the oldest past the limit.
struct EntryTime : QTextBlockUserData {
    explicit EntryTime(const QDateTime &time) : time(time) {}
    QDateTime time;
};

QString isoWithOffset(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}
} // namespace

LogPane::LogPane(QTextEdit *view) : QObject(view), view(view)
{
    view->document()->setMaximumBlockCount(MaxEntries);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, &LogPane::showContextMenu);
    connect(view, &QTextEdit::textChanged, this, &LogPane::showNewest);
}

void LogPane::showNewest()
{
    QTextCursor cursor = view->textCursor();
    cursor.movePosition(QTextCursor::End, QTextCursor::MoveAnchor);
    view->setTextCursor(cursor);
}

void LogPane::append(const QString &html)
{
    view->append(html);
    view->document()->lastBlock().setUserData(new EntryTime(QDateTime::currentDateTime()));
}

bool LogPane::saveAs(const QString &path, QString *error) const
{
    QByteArray text;
    for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
        const auto *entry = static_cast<const EntryTime *>(block.userData());
        if (!entry)
            continue;
        // A line break inside an entry would read as another entry.
        const QString line = block.text().replace(QChar::LineSeparator, ' ');
        text += (isoWithOffset(entry->time) + "  " + line + '\n').toUtf8();
    }
    QSaveFile file(path);
    // Text: the system's own line ends, for the editors of the system.
    if (file.open(QIODevice::WriteOnly | QIODevice::Text) && file.write(text) == text.size() &&
        file.flush() && file.commit())
        return true;
    *error = file.errorString();
    return false;
}

void LogPane::showContextMenu(const QPoint &position)
{
    std::unique_ptr<QMenu> menu(view->createStandardContextMenu(position));
    menu->addSeparator();
    menu->addAction(QString::fromUtf8("Save Log As…"), this, &LogPane::saveWithDialog);
    menu->exec(view->viewport()->mapToGlobal(position));
}

void LogPane::saveWithDialog()
{
    const QString path = QFileDialog::getSaveFileName(view, "Save Log As", "rfpanel-log.txt",
                                                      "Text files (*.txt);;All files (*)");
    QString error;
    if (!path.isEmpty() && !saveAs(path, &error))
        QMessageBox::warning(view, "Save Log As", "The log could not be saved:\n" + error);
}
