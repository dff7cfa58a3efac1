#ifndef MESSAGELOG_H
#define MESSAGELOG_H

#include <QStringList>
#include <QtGlobal>

// Collects the messages the code under test writes while it exists, in
// order, so a test can check which diagnostic lines were (not) written.
// Debug lines are kept from the console; anything graver is also passed on
// to the previous handler. A log made while another exists collects on its
// own until it goes.
class MessageLog
{
public:
    MessageLog();
    ~MessageLog();
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

    QStringList lines() const;
    void clear();
    bool contains(const QString &line) const { return lines().contains(line); }
    int count(const QString &line) const { return lines().count(line); }
    QStringList startingWith(const QString &prefix) const;

private:
    static void collect(QtMsgType type, const QMessageLogContext &context, const QString &text);

    QtMessageHandler previous;
    QtMessageHandler console; // where graver messages go on to
    MessageLog *outer;
    QStringList collected;
};

#endif
