#include "commands.h"
#include "console.h"
#include "instrumentcommands.h"
#include "instrumentsession.h"
#include "statusview.h"
#include "wholenumber.h"

#include <cmath>
#include <functional>

namespace
{
// What a setting sends, and how the status read back shows it was taken.
struct Plan {
    QString command;
    // Empty when the status shows the setting taken, otherwise what it shows instead.
    std::function<QString(const StatusReply &)> refusal;
    std::function<QString(const StatusReply &)> report;
    // The reference source is only the software's to choose while the override is on.
    bool needsOverride = false;
};

// A two-way setting, named by words.
struct Switch {
    const char *name;
    const char *caption;
    const char *offWord;
    const char *onWord;
    QString (*command)(bool);
    bool (StatusReply::*reads)() const;
    const char *unit;
};

const Switch switches[] = {
    {"lna", "LNA", "off", "on", InstrumentCommands::lna, &StatusReply::lnaOn, ""},
    {"ref", "Reference source", "internal", "external", InstrumentCommands::referenceExternal,
     &StatusReply::referenceExternal, ""},
    {"override", "Reference override", "off", "on", InstrumentCommands::referenceOverride,
     &StatusReply::overrideActive, ""},
    {"if", "IF frequency", "187", "300", InstrumentCommands::if300MHz, &StatusReply::if300MHz,
     " MHz"},
    {"pll", "LO PLL mode", "fractional", "integer", InstrumentCommands::integerPll,
     &StatusReply::integerPll, ""},
};

const char settingsList[] = "tune, atten, reffreq, lna, ref, override, if, pll";

std::optional<double> decimal(const QString &text)
{
    // Always a full stop, whatever the locale.
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Where the instrument puts a tune request: the nearest step of its PLL mode.
double tunedGHz(double requestedGHz, bool integerPll)
{
    const double stepMHz = integerPll ? InstrumentCommands::IntegerPllTuneStepMHz
                                      : InstrumentCommands::FractionalPllTuneStepMHz;
    return std::round(requestedGHz * 1000.0 / stepMHz) * stepMHz / 1000.0;
}

QString planSwitch(const Switch &sw, const QString &word, Plan *plan)
{
    const QString w = word.toLower();
    if (w != QLatin1String(sw.onWord) && w != QLatin1String(sw.offWord))
        return QStringLiteral("set %1: \"%2\" is neither %3 nor %4")
            .arg(sw.name, word, sw.onWord, sw.offWord);
    const bool on = w == QLatin1String(sw.onWord);
    const auto shown = [sw](const StatusReply &s) {
        return QLatin1String((s.*sw.reads)() ? sw.onWord : sw.offWord) + QLatin1String(sw.unit);
    };
    plan->command = sw.command(on);
    plan->refusal = [sw, on, shown](const StatusReply &s) {
        return (s.*sw.reads)() == on ? QString() : shown(s);
    };
    plan->report = [sw, shown](const StatusReply &s) {
        return QLatin1String(sw.caption) + QStringLiteral(": ") + shown(s);
    };
    plan->needsOverride = QLatin1String(sw.name) == QLatin1String("ref");
    return QString();
}

QString planTune(const QString &text, Plan *plan)
{
    const std::optional<double> ghz = decimal(text);
    if (!ghz)
        return QStringLiteral("set tune: \"%1\" is not a number of GHz").arg(text);
    if (*ghz < InstrumentCommands::MinTuneGHz || *ghz > InstrumentCommands::MaxTuneGHz)
        return QStringLiteral("set tune: %1 GHz is out of range (%2 to %3 GHz)")
            .arg(text, fixed(InstrumentCommands::MinTuneGHz, 1),
                 fixed(InstrumentCommands::MaxTuneGHz, 1));
    // The value as sent, so the comparison below sees what the instrument saw.
    const QString sent = fixed(*ghz, 4);
    const double requested = sent.toDouble();
    plan->command = InstrumentCommands::tune(requested);
    plan->refusal = [requested](const StatusReply &s) {
        const std::optional<double> now = decimal(s.tuneFrequency());
        const double expected = tunedGHz(requested, s.integerPll());
        const bool taken =
            now && (std::abs(*now - expected) < 0.0005 || std::abs(*now - requested) < 0.00005);
        return taken ? QString() : s.tuneFrequency() + QStringLiteral(" GHz");
    };
    plan->report = [sent, requested](const StatusReply &s) {
        QString line = QStringLiteral("Tune frequency: %1 GHz").arg(s.tuneFrequency());
        const std::optional<double> now = decimal(s.tuneFrequency());
        if (now && std::abs(*now - requested) >= 0.00005)
            line +=
                QStringLiteral(" (%1 GHz rounded to the nearest %2 by the %3 PLL mode)")
                    .arg(sent, s.integerPll() ? QStringLiteral("400 MHz") : QStringLiteral("MHz"),
                         s.integerPll() ? QStringLiteral("integer") : QStringLiteral("fractional"));
        return line;
    };
    return QString();
}

// A whole-number setting read back from its status field.
QString planNumber(const QString &name, const QString &text, int low, int high, const char *unit,
                   QString (*command)(int), QString (StatusReply::*reads)() const,
                   const QString &caption, Plan *plan)
{
    const std::optional<int> value = wholeNumber(text);
    if (!value)
        return QStringLiteral("set %1: \"%2\" is not a whole number of %3").arg(name, text, unit);
    if (*value < low || *value > high)
        return QStringLiteral("set %1: %2 %3 is out of range (%4 to %5 %3)")
            .arg(name, text, unit)
            .arg(low)
            .arg(high);
    plan->command = command(*value);
    const QString u = QLatin1String(unit);
    plan->refusal = [reads, value, u](const StatusReply &s) {
        const std::optional<int> now = wholeNumber((s.*reads)());
        return now == value ? QString() : (s.*reads)() + ' ' + u;
    };
    plan->report = [reads, caption, u](const StatusReply &s) {
        return caption + QStringLiteral(": ") + (s.*reads)() + ' ' + u;
    };
    return QString();
}

QString plan(const QString &name, const QString &value, Plan *plan)
{
    if (name == QLatin1String("tune"))
        return planTune(value, plan);
    if (name == QLatin1String("atten"))
        return planNumber(name, value, InstrumentCommands::MinAttenuationDb,
                          InstrumentCommands::MaxAttenuationDb, "dB",
                          InstrumentCommands::attenuation, &StatusReply::attenuation,
                          QStringLiteral("D/C attenuation"), plan);
    if (name == QLatin1String("reffreq"))
        return planNumber(name, value, InstrumentCommands::MinReferenceMHz,
                          InstrumentCommands::MaxReferenceMHz, "MHz",
                          InstrumentCommands::referenceFrequency, &StatusReply::referenceFrequency,
                          QStringLiteral("Reference frequency"), plan);
    for (const Switch &sw : switches) {
        if (name == QLatin1String(sw.name))
            return planSwitch(sw, value, plan);
    }
    return QStringLiteral("set: unknown setting \"%1\" (one of %2)").arg(name, settingsList);
}
} // namespace

int runSet(Invocation &inv)
{
    Plan p;
    const QString problem = plan(inv.args.at(0).toLower(), inv.args.at(1), &p);
    if (!problem.isEmpty())
        return fail(ExitCode::Usage, problem + QStringLiteral("; nothing was sent"));

    int code = ExitCode::Done;
    InstrumentSession *session = inv.session(&code);
    if (!session)
        return code;
    if (p.needsOverride) {
        const std::optional<StatusReply> before = readStatus(*session, &code);
        if (!before)
            return code;
        if (!before->overrideActive())
            return fail(ExitCode::Refused,
                        QStringLiteral("the reference follows the LO1 select switch while the "
                                       "reference override is off; \"set override on\" first. "
                                       "Nothing was sent"));
    }
    if (!session->command(p.command))
        return fail(ExitCode::NoLink,
                    QStringLiteral("the link closed before \"%1\" was sent").arg(p.command));
    const std::optional<StatusReply> after = readStatus(*session, &code);
    if (!after)
        return code;
    const QString refusal = p.refusal(*after);
    if (!refusal.isEmpty())
        return fail(ExitCode::Refused,
                    QStringLiteral("the instrument did not take \"%1\": it reports %2")
                        .arg(p.command, refusal));
    printLine(p.report(*after));
    return ExitCode::Done;
}
