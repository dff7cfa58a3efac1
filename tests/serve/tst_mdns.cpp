#include "serveprocess.h"
#include "simserver.h"

#include <QtTest>

namespace
{
// The simulated instrument's model and serial number.
const QString Name = QStringLiteral("KX4417-UDC SN000123");
// Above avahi's own waits, and the server's retry without a system bus.
const int DiscoveryMs = 8000;

// What avahi-browse resolves of `type` at the namespace's address, as "NAME
// PORT", and with `txt` its TXT record ("NAME PORT \"path=/\"").
QStringList browse(const char *type, bool txt = false)
{
    QProcess browser;
    browser.start(QStringLiteral("avahi-browse"), {"-rpt", type});
    browser.waitForFinished(DiscoveryMs);
    QStringList found;
    for (const QByteArray &line : browser.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> field = line.split(';');
        // Spaces and "#" in a name come as \032 and \035.
        if (field.size() > 8 && field[0] == "=" && field[7] == qgetenv("NETNS_ADDRESS"))
            found << QString::fromUtf8(field[3] + ' ' + field[8] +
                                       (txt && field.size() > 9 ? ' ' + field[9] : QByteArray()))
                         .replace("\\032", " ")
                         .replace("\\035", "#");
    }
    return found;
}
} // namespace

// `rfctl serve --mdns` with a system D-Bus and avahi of the suite's own, in
// the namespaces netns-run.sh makes, where they serve only the suite.
class MdnsTest : public QObject
{
    Q_OBJECT

    SimServer sim;
    QProcess bus;
    QProcess avahi;

    bool startServe(ServeProcess &serve)
    {
        return serve.start({"--tcp", QStringLiteral("127.0.0.1:%1").arg(sim.port()), "serve",
                            "--raw-port", "0", "--vxi11", "--mdns"});
    }
    // A fresh avahi daemon, after the bus it needs.
    void restartAvahi()
    {
        if (bus.state() == QProcess::NotRunning && QDir().mkpath(QStringLiteral("/run/dbus")))
            bus.start(QStringLiteral("dbus-daemon"), {"--system", "--nofork"});
        QTRY_VERIFY(QFile::exists(QStringLiteral("/run/dbus/system_bus_socket")));
        avahi.kill();
        avahi.waitForFinished();
        avahi.start(QStringLiteral("avahi-daemon"), {"--no-drop-root", "--no-chroot"});
    }

private slots:
    void initTestCase()
    {
        // Never a system bus or avahi beside the machine's own.
        if (qEnvironmentVariableIsEmpty("NETNS_ADDRESS"))
            QSKIP("runs only inside netns-run.sh");
        QVERIFY(sim.start());
    }

    void cleanupTestCase()
    {
        for (QProcess *service : {&avahi, &bus}) {
            service->kill();
            service->waitForFinished();
        }
    }

    // Without a bus the server says so once and serves; it announces once
    // avahi is there, and again after avahi went away and came back.
    void announcesWheneverAvahiIsThere()
    {
        ServeProcess serve(QStringLiteral(RFCTL_PATH));
        QVERIFY(startServe(serve));
        QTRY_VERIFY(serve.log().contains("mdns: no system bus"));
        const std::unique_ptr<QTcpSocket> client = serve.client();
        client->write("*IDN?\n");
        QTRY_VERIFY(client->canReadLine());
        restartAvahi();
        const QString announced = "mdns: announced as " + Name;
        QTRY_COMPARE_WITH_TIMEOUT(serve.log().count(announced), 1, DiscoveryMs);
        QVERIFY(serve.printed().contains("mdns " + Name + '\n'));
        QCOMPARE(browse("_scpi-raw._tcp"), QStringList{Name + ' ' + QString::number(serve.port())});
        QCOMPARE(browse("_lxi._tcp"), QStringList());
        QCOMPARE(browse("_vxi-11._tcp"), QStringList{Name + " 111"});
        restartAvahi();
        QTRY_COMPARE_WITH_TIMEOUT(serve.log().count(announced), 2, DiscoveryMs);
        QCOMPARE(serve.log().count("serving goes on without discovery"), 2);
    }

    // With a web service, LXI discovery leads to it, and so does a browser's.
    void announcesTheWebService()
    {
        restartAvahi();
        ServeProcess serve(QStringLiteral(RFCTL_PATH));
        QVERIFY(serve.start({"--tcp", QStringLiteral("127.0.0.1:%1").arg(sim.port()), "serve",
                             "--raw-port", "0", "--http-port", "0", "--mdns"},
                            QStringLiteral("http")));
        QTRY_VERIFY_WITH_TIMEOUT(serve.log().contains("mdns: announced as " + Name), DiscoveryMs);
        const QString site = Name + ' ' + QString::number(serve.port()) + " \"path=/\"";
        QCOMPARE(browse("_http._tcp", true), QStringList{site});
        QCOMPARE(browse("_lxi._tcp", true), QStringList{site});
    }

    // Another program on the network has the name: every service takes
    // avahi's alternative.
    void takesTheAlternativeName()
    {
        restartAvahi();
        QProcess other;
        other.start(QStringLiteral("avahi-publish"), {"-f", "-s", Name, "_scpi-raw._tcp", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(browse("_scpi-raw._tcp").contains(Name + " 1"), DiscoveryMs);
        ServeProcess serve(QStringLiteral(RFCTL_PATH));
        QVERIFY(startServe(serve));
        QTRY_VERIFY_WITH_TIMEOUT(serve.printed().contains("mdns " + Name + " #2\n"), DiscoveryMs);
        other.kill();
        other.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(MdnsTest)
#include "tst_mdns.moc"
