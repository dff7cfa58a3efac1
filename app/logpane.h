#ifndef LOGPANE_H
#define LOGPANE_H

#include <QObject>

class QPoint;
class QTextEdit;

// The window's log pane: every entry is one paragraph appended to the view,
// with the wall-clock time it was added kept beside it (not shown), so the
// operator can save the log with its times. Only the newest MaxEntries are
// kept, so a day of failing polls cannot grow it without bound. The view
// follows the newest entry.
class LogPane : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxEntries = 1000;

    // Becomes a child of `view` and adds "Save Log As…" to its context menu.
    explicit LogPane(QTextEdit *view);

    // One entry: a paragraph of rich text as the log lines are written.
    void append(const QString &html);

    // Writes every entry kept, oldest first, one line each: its time (ISO 8601
    // with milliseconds and offset from UTC), two spaces, its text. UTF-8,
    // written aside and renamed into place. False with `error` set on failure;
    // a file already at `path` is then left as it was.
    bool saveAs(const QString &path, QString *error) const;

private slots:
    // Keeps the cursor, and so the view, at the newest entry.
    void showNewest();
    void showContextMenu(const QPoint &position);
    void saveWithDialog();

private:
    QTextEdit *view;
};

#endif
