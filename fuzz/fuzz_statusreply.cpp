// The decoder of the instrument's status reply: every field is read by name
// whatever the reply holds. Texts come through exactly as received, a flag
// is set only by its exact code, and a reply judged sound is complete.
#include "finding.h"
#include "statusreply.h"

#include <QString>
#include <QStringList>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString reply = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const QStringList fields = reply.split(QLatin1Char(','), Qt::KeepEmptyParts);
    const StatusReply status(fields);
    const auto field = [&fields](int index) { return fields.value(index); };

    // A reply passed as sound has every field, none of them empty.
    if (status.fault().isEmpty()) {
        FUZZ_CHECK(fields.size() >= StatusReply::FieldCount);
        for (int index = 0; index < StatusReply::FieldCount; ++index)
            FUZZ_CHECK(!field(index).isEmpty());
    }

    FUZZ_CHECK(status.lo1Frequency() == field(0));
    FUZZ_CHECK(status.tuneFrequency() == field(1));
    FUZZ_CHECK(status.attenuation() == field(2));
    FUZZ_CHECK(status.referenceFrequency() == field(10));
    FUZZ_CHECK(status.filterState() == field(11));
    FUZZ_CHECK(status.temperature() == field(13));
    FUZZ_CHECK(status.current() == field(14));

    FUZZ_CHECK(status.lnaOn() == (field(3) == QLatin1String("0")));
    for (int lo = 1; lo <= 3; ++lo)
        FUZZ_CHECK(status.loLocked(lo) == (field(3 + lo) == QLatin1String("1")));
    FUZZ_CHECK(!status.loLocked(0) && !status.loLocked(4));
    FUZZ_CHECK(status.lo1External() == (field(7) == QLatin1String("1")));
    FUZZ_CHECK(status.referenceExternal() == (field(8) == QLatin1String("1")));
    FUZZ_CHECK(status.overrideActive() == (field(9) == QLatin1String("1")));
    FUZZ_CHECK(status.integerPll() == (field(12) == QLatin1String("1")));
    FUZZ_CHECK(status.if300MHz() == (field(15) == QLatin1String("1")));
    return 0;
}
