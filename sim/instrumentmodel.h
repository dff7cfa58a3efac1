#ifndef INSTRUMENTMODEL_H
#define INSTRUMENTMODEL_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// The instrument's state and its command language, without any transport.
// One call per command line (terminator already stripped); queries return
// their reply (without terminator), commands return nothing.
class InstrumentModel
{
public:
    // What a stored state holds, as "syst:bootstate?" lists it. The PLL mode
    // is not part of it: loading keeps the current mode, which is why the
    // panel selects the fractional mode before every load.
    struct StoredState {
        double tuneGHz = 10.0;
        int atten = 0;
        int lna = 1;   // status encoding: 0 = LNA on, 1 = off
        int if300 = 1; // 1 = 300 MHz, 0 = 187 MHz
    };

    struct Module {
        QString idn = "Ostrelin,KX4417-PM,PM0001,1.0.0";
        QString firmwareId = "0100";
    };

    // Fixed identity and fitted options; tests change them to shape the
    // inventory and identification replies.
    struct Config {
        QString idn = "Ostrelin,KX4417-UDC,SN000123,2.4.1";
        QString firmwareId = "0042";
        int moduleMask = 15; // populated ports 0..3
        QList<Module> modules = {Module{}, Module{}, Module{}, Module{}};
        int lcdFitted = 1;
        QString lcdSerial = "LCD0007";
        QString lcdVersion = "1.3";
        QString alteraId = "5"; // "0" when no FPGA is fitted
        // Also obeys the fault commands, which make the status show what
        // monitoring watches for; otherwise they are unknown, as on the
        // instrument. "fault:unlock N" and "fault:lock N" (N 1 to 3) make
        // LO N read unlocked or locked; "fault:temperature C" makes the
        // temperature read C degrees Celsius.
        bool faults = false;
    };

    InstrumentModel();
    explicit InstrumentModel(const Config &config);

    std::optional<QByteArray> execute(const QByteArray &line);

    Config &config();
    const Config &config() const;

    // Current operating state, as the status reply reports it.
    double tuneGHz() const;
    int pllMode() const;
    int atten() const;
    int lna() const;
    int if300() const;
    int refExternal() const;
    int refOverride() const;
    int refFreqMHz() const;
    int filterState() const;
    QString temperature() const;
    QString current() const;
    QByteArray statusReply() const; // the 16-field "syst:readstate?" reply
    QList<StoredState> storedStates() const;

    QString ipAddress() const;
    QString subnet() const;
    QString gateway() const;
    int port() const;
    void setPort(int port); // the TCP port the instrument reports as its own

    // Private implementation keeps the command table out of every includer.
    ~InstrumentModel();
    InstrumentModel(const InstrumentModel &);
    InstrumentModel &operator=(const InstrumentModel &);

private:
    struct State;
    State *d;
};

#endif
