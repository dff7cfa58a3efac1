#ifndef INSTRUMENTCOMMANDS_H
#define INSTRUMENTCOMMANDS_H

#include <QString>
#include <QStringList>

// The texts the panel and its tools send to change the instrument, in one
// place, so every front end speaks exactly the same command language. Each
// function builds the text only; range checks are the caller's, against the
// limits below, before anything is sent. Numbers are written in fixed
// notation with a full stop, whatever the locale.
namespace InstrumentCommands
{
// What the instrument accepts.
constexpr double MinTuneGHz = 2.0;
constexpr double MaxTuneGHz = 18.0;
// The instrument tunes to the nearest step of its LO PLL mode.
constexpr double FractionalPllTuneStepMHz = 1.0;
constexpr double IntegerPllTuneStepMHz = 400.0;
constexpr int MinAttenuationDb = 0;
constexpr int MaxAttenuationDb = 31;
constexpr int MinReferenceMHz = 10;
constexpr int MaxReferenceMHz = 100;
// Stored states are 0..StoredStateCount-1 on the wire, 1..StoredStateCount to the operator.
constexpr int StoredStateCount = 5;
// The instrument needs this long to store a state before its list reflects it.
constexpr unsigned long SaveSettleMs = 500;
// The pause after each network setting written, so the instrument is not
// handed them back to back.
constexpr unsigned long NetworkWriteGapMs = 50;

QString statusQuery();
QString storedStatesQuery();

// Four decimals always, whatever the tune box shows.
QString tune(double ghz);
QString attenuation(int db);
QString referenceFrequency(int mhz);
// The instrument's LNA switch is inverted: "powe:lna 0" turns it on.
QString lna(bool on);
QString referenceExternal(bool external);
QString referenceOverride(bool active);
QString if300MHz(bool mhz300);
QString integerPll(bool integer);

// `state` counts from 0 as on the wire. Stored states are recalled in
// fractional PLL mode, so a load is two commands.
QStringList loadState(int state);
QString saveState(int state);

// The commands that write the instrument's network settings, in the order
// the instrument takes them.
QStringList networkSettings(const QString &ipAddress, const QString &subnet, const QString &gateway,
                            int port);
// Why these settings must not be written, in words for the operator; empty
// when every address is four decimal parts from 0 to 255 and the port a
// number from 1 to 65535. The instrument ignores a setting outside these,
// and a line break would split the command that carries it.
QString networkSettingsProblem(const QString &ipAddress, const QString &subnet,
                               const QString &gateway, const QString &port);
} // namespace InstrumentCommands

#endif
