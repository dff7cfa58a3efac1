#ifndef TRENDSERIES_H
#define TRENDSERIES_H

#include <QDateTime>
#include <QObject>
#include <deque>

// Temperature and current of every good status read of the session, oldest
// first. Bounded: past its capacity the oldest samples go first, so a panel
// left running for weeks keeps a fixed amount of memory.
class TrendSeries : public QObject
{
    Q_OBJECT
public:
    struct Sample {
        QDateTime time;
        double temperature; // degrees Celsius
        double current;     // amperes
    };

    // A day of samples at the status poll's rate of one every 6 s.
    static constexpr int DefaultCapacity = 24 * 60 * 60 / 6;

    explicit TrendSeries(int capacity = DefaultCapacity, QObject *parent = nullptr);

    void append(const QDateTime &time, double temperature, double current);
    const std::deque<Sample> &samples() const { return kept; }

    // A header line, then one line per sample: the time in ISO 8601 with its
    // offset from UTC, and both values in C notation whatever the locale.
    QByteArray csv() const;
    // Writes csv() to `path` in one piece: a failed export leaves any file
    // already there as it was. False with `error` set when it fails.
    bool exportCsv(const QString &path, QString *error) const;

signals:
    void appended(const TrendSeries::Sample &sample);

private:
    int capacity;
    std::deque<Sample> kept;
};

#endif
