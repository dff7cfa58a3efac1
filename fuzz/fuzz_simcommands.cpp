// The simulator's command executor, one line at a time, with the instrument's
// state checked after every line: whatever a client sends, the state stays
// one the real instrument can be in.
#include "finding.h"
#include "instrumentmodel.h"

#include <QByteArray>
#include <QList>
#include <cmath>
#include <cstdint>

namespace
{

bool isFlag(int value)
{
    return value == 0 || value == 1;
}

void checkState(const InstrumentModel &m)
{
    const long mhz = std::lround(m.tuneGHz() * 1000.0);
    FUZZ_CHECK(mhz >= 2000 && mhz <= 18000);
    FUZZ_CHECK(isFlag(m.pllMode()));
    if (m.pllMode() == 1)
        FUZZ_CHECK(mhz % 400 == 0);
    FUZZ_CHECK(m.atten() >= 0 && m.atten() <= 31);
    FUZZ_CHECK(isFlag(m.lna()) && isFlag(m.if300()));
    FUZZ_CHECK(isFlag(m.refExternal()) && isFlag(m.refOverride()));
    FUZZ_CHECK(m.refOverride() == 1 || m.refExternal() == 0);
    FUZZ_CHECK(m.refFreqMHz() >= 10 && m.refFreqMHz() <= 100);
    FUZZ_CHECK(m.port() >= 0 && m.port() <= 65535);

    const QList<QByteArray> fields = m.statusReply().split(',');
    FUZZ_CHECK(fields.size() == 16);
    FUZZ_CHECK(fields.at(1) == QByteArray::number(m.tuneGHz(), 'f', 4));

    const QList<InstrumentModel::StoredState> stored = m.storedStates();
    FUZZ_CHECK(stored.size() == 5);
    for (const InstrumentModel::StoredState &s : stored) {
        FUZZ_CHECK(s.tuneGHz >= 2.0 && s.tuneGHz <= 18.0);
        FUZZ_CHECK(s.atten >= 0 && s.atten <= 31 && isFlag(s.lna) && isFlag(s.if300));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    InstrumentModel model;
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    for (const QByteArray &line : input.split('\n')) {
        const auto reply = model.execute(line);
        FUZZ_CHECK(!reply || !reply->contains('\n'));
        checkState(model);
    }
    return 0;
}
