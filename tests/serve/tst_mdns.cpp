#include "daemonprocess.h"
#include "serveprocess.h"
#include "simserver.h"

#include <QtTest>
#include <memory>

namespace
{
// The simulated instrument's model and serial number.
const QString Name = QStringLiteral("KX4417-UDC SN000123");
// Above avahi's own retries, and the server's retry without a system bus.
const int DiscoveryMs = 8000;

// avahi-browse -p writes spaces and punctuation in a name as \DDD, in decimal.
QString unescaped(QByteArray name)
{
    for (int i = name.indexOf('\\'); i >= 0; i = name.indexOf('\\', i + 1))
        name.replace(i, 4, QByteArray(1, char(name.mid(i + 1, 3).toInt())));
    return QString::fromUtf8(name);
}

// The instances of `type` that avahi-browse resolves at the namespace's
// address, as "NAME PORT".
QStringList browse(const char *type)
{
    QProcess browser;
    browser.start(QStringLiteral("avahi-browse"), {"-rpt", type});
    browser.waitForFinished(DiscoveryMs);
    QStringList found;
    for (const QByteArray &line : browser.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> field = line.split(';');
        if (field.size() > 8 && field[0] == "=" && field[7] == qgetenv("NETNS_ADDRESS"))
            found << unescaped(field[3]) + ' ' + field[8];
    }
    return found;
}
} // namespace

// `rfctl serve --mdns` with a system D-Bus and avahi of the suite's own, in
// the network and mount namespaces netns-run.sh makes, where they serve only
// the suite.
class MdnsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimServer> sim;
    Daemon bus;
    Daemon avahi;

    std::unique_ptr<ServeProcess> startServe()
    {
        auto serve = std::make_unique<ServeProcess>(QStringLiteral(RFCTL_PATH));
        if (!serve->start({"--tcp", QStringLiteral("127.0.0.1:%1").arg(sim->port()), "serve",
                           "--raw-port", "0", "--vxi11", "--mdns"}))
            return nullptr;
        return serve;
    }
    void startBus()
    {
        // A killed bus leaves its pid file behind, which would stop the next.
        QFile::remove(QStringLiteral("/run/dbus/pid"));
        QVERIFY(QDir().mkpath(QStringLiteral("/run/dbus")));
        bus =
            startDaemon("dbus-daemon", {"--system", "--nofork", "--print-address"}, "unix:", 5000);
        QVERIFY(bus);
    }
    void startAvahi()
    {
        avahi = startDaemon("avahi-daemon", {"--no-drop-root", "--no-chroot"},
                            "Server startup complete", DiscoveryMs);
        QVERIFY(avahi);
    }

private slots:
    void initTestCase()
    {
        // Never a system bus or avahi beside the machine's own.
        if (qEnvironmentVariableIsEmpty("NETNS_ADDRESS"))
            QSKIP("runs only inside netns-run.sh");
        sim = std::make_unique<SimServer>();
        QVERIFY(sim->start());
    }

    void cleanup()
    {
        avahi.reset();
        bus.reset();
    }

    // Without a bus, then without a daemon, the server says so once and
    // serves; it announces once a daemon is there, and again after the
    // daemon went away and came back.
    void announcesWheneverAvahiIsThere()
    {
        const std::unique_ptr<ServeProcess> serve = startServe();
        QVERIFY(serve);
        QTRY_VERIFY_WITH_TIMEOUT(serve->log().contains("mdns: no system bus"), DiscoveryMs);
        const std::unique_ptr<QTcpSocket> client = serve->client();
        client->write("*IDN?\n");
        QTRY_VERIFY(client->canReadLine());
        startBus();
        startAvahi();
        const QString announced = "mdns: announced as " + Name;
        QTRY_COMPARE_WITH_TIMEOUT(serve->log().count(announced), 1, DiscoveryMs);
        QVERIFY(serve->printed().contains("mdns " + Name + '\n'));
        QCOMPARE(serve->log().count("serving goes on without discovery"), 1);
        QCOMPARE(browse("_scpi-raw._tcp"),
                 QStringList{Name + ' ' + QString::number(serve->port())});
        QCOMPARE(browse("_lxi._tcp"), QStringList{Name + " 80"});
        QCOMPARE(browse("_vxi-11._tcp"), QStringList{Name + " 111"});
        avahi->terminate();
        QTRY_VERIFY(serve->log().contains("mdns: the avahi daemon went away"));
        startAvahi();
        QTRY_COMPARE_WITH_TIMEOUT(serve->log().count(announced), 2, DiscoveryMs);
        QCOMPARE(serve->log().count("serving goes on without discovery"), 2);
    }

    // A name another program announces already: the server takes avahi's
    // alternative for every service.
    void takesTheAlternativeName()
    {
        startBus();
        startAvahi();
        const auto other = startDaemon("avahi-publish", {"-s", Name, "_scpi-raw._tcp", "1"},
                                       "Established", DiscoveryMs);
        QVERIFY(other);
        const std::unique_ptr<ServeProcess> serve = startServe();
        QVERIFY(serve);
        QTRY_VERIFY_WITH_TIMEOUT(serve->log().contains("mdns: announced as " + Name + " #2"),
                                 DiscoveryMs);
        QVERIFY(browse("_lxi._tcp").contains(Name + " #2 80"));
    }
};

QTEST_GUILESS_MAIN(MdnsTest)
#include "tst_mdns.moc"
