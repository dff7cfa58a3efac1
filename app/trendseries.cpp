#include "trendseries.h"

#include <QSaveFile>

TrendSeries::TrendSeries(int capacity, QObject *parent)
    : QObject(parent), capacity(std::max(1, capacity))
{
}

void TrendSeries::append(const QDateTime &time, double temperature, double current)
{
    if (int(kept.size()) == capacity)
        kept.pop_front();
    kept.push_back({time, temperature, current});
    emit appended(kept.back());
}

QByteArray TrendSeries::csv() const
{
    QByteArray text = "time,temperature_C,current_A\n";
    for (const Sample &sample : kept) {
        const QDateTime withOffset = sample.time.toOffsetFromUtc(sample.time.offsetFromUtc());
        text += withOffset.toString(Qt::ISODateWithMs).toLatin1() + ',' +
                QByteArray::number(sample.temperature, 'g', 6) + ',' +
                QByteArray::number(sample.current, 'g', 6) + '\n';
    }
    return text;
}

bool TrendSeries::exportCsv(const QString &path, QString *error) const
{
    QSaveFile file(path);
    const QByteArray text = csv();
    // Text: the system's own line ends, which spreadsheets of the system expect.
    if (file.open(QIODevice::WriteOnly | QIODevice::Text) && file.write(text) == text.size() &&
        file.flush() && file.commit())
        return true;
    *error = file.errorString();
    return false;
}
