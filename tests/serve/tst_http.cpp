#include "serveprocess.h"
#include "simserver.h"
#include "testworkdir.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QXmlStreamReader>
#include <QtTest>
#include <memory>

namespace
{
// A status with LO2 unlocked, the LNA off and values the simulator never has.
const QByteArray Status = "10.30000,10.0000,7,1,1,0,1,0,1,1,100,2,0,41.5,1.75,1";
const int ReplyMs = 5000;
const QString LxiSchema = QStringLiteral(SOURCE_DIR "/lxi-identification.xsd");

struct Answer {
    int status = 0;
    QByteArray body;
};

// A free TCP port on the loopback, for a program that needs one named.
quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

QString tool(const char *name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}
} // namespace

// The web service of the real `rfctl serve` in front of the simulated instrument.
class HttpTest : public QObject
{
    Q_OBJECT

    TestWorkdir workdir;
    std::unique_ptr<SimServer> sim;
    std::unique_ptr<ServeProcess> serve;
    QNetworkAccessManager web;
    QString host;

    bool startServe(const QStringList &options = {})
    {
        serve = std::make_unique<ServeProcess>(QStringLiteral(RFCTL_PATH));
        return serve->start(QStringList{"--tcp", QStringLiteral("127.0.0.1:%1").arg(sim->port()),
                                        "--timeout", "500", "serve", "--raw-port", "0",
                                        "--http-port", "0"} +
                                options,
                            QStringLiteral("http"));
    }
    QString url(const QString &path) const
    {
        const QString name = host.contains(':') ? '[' + host + ']' : host;
        return QStringLiteral("http://%1:%2%3").arg(name).arg(serve->port()).arg(path);
    }
    QNetworkReply *send(const QString &path, const QByteArray &method = "GET")
    {
        return web.sendCustomRequest(QNetworkRequest(QUrl(url(path))), method);
    }
    static Answer answerOf(QNetworkReply *reply)
    {
        if (!reply->isFinished())
            QSignalSpy(reply, &QNetworkReply::finished).wait(ReplyMs);
        reply->deleteLater();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->readAll()};
    }
    int statusReads() const { return sim->receivedLines().count("syst:readstate?"); }

    // The page as headless Chromium renders it, after its first refresh.
    QString renderedPage()
    {
        QProcess chromium;
        chromium.start(tool("chromium"),
                       {"--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                        "--user-data-dir=" + workdir.path() + "/chromium",
                        "--virtual-time-budget=2000", "--dump-dom", url("/")});
        if (!chromium.waitForFinished(20000))
            chromium.kill();
        return QString::fromUtf8(chromium.readAllStandardOutput());
    }

private slots:
    void init()
    {
        sim = std::make_unique<SimServer>();
        QVERIFY(sim->start());
        sim->setReply("syst:readstate?", Status);
        host = QStringLiteral("127.0.0.1");
    }

    void cleanup()
    {
        if (serve)
            QCOMPARE(serve->terminate(), 0);
        serve.reset();
        sim.reset();
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contains");
        QTest::newRow("metrics") << QByteArray("GET") << "/metrics" << 200
                                 << QByteArray("\nrfconverter_temperature_celsius 41.5\n");
        QTest::newRow("metrics in base units")
            << QByteArray("GET") << "/metrics" << 200
            << QByteArray("\nrfconverter_tune_frequency_hertz 10000000000\n");
        QTest::newRow("lock by LO") << QByteArray("GET") << "/metrics" << 200
                                    << QByteArray("\nrfconverter_lo_locked{lo=\"2\"} 0\n");
        QTest::newRow("identification as a label")
            << QByteArray("GET") << "/metrics" << 200
            << QByteArray("rfconverter_info{model=\"KX4417-UDC\",serial=\"SN000123\"");
        QTest::newRow("status") << QByteArray("GET") << "/status.json" << 200
                                << QByteArray("\"lo2Locked\":false");
        QTest::newRow("HEAD") << QByteArray("HEAD") << "/metrics" << 200 << QByteArray();
        QTest::newRow("POST") << QByteArray("POST") << "/metrics" << 405 << QByteArray();
        QTest::newRow("PUT") << QByteArray("PUT") << "/" << 405 << QByteArray();
        QTest::newRow("unknown path")
            << QByteArray("GET") << "/syst:readstate?" << 404 << QByteArray();
    }

    // Only the status query reaches the instrument, and only for GET.
    void answers()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QByteArray, contains);
        QVERIFY(startServe());
        sim->clearReceived();
        const Answer answer = answerOf(send(path, method));
        QCOMPARE(answer.status, status);
        QVERIFY2(answer.body.contains(contains), answer.body.constData());
        if (status != 200)
            QCOMPARE(sim->receivedLines(), QStringList());
    }

    // The server's counters take in every service: a raw client's query and
    // its refused request, the status read, and the raw and HTTP clients.
    void countersCoverEveryService()
    {
        QVERIFY(startServe());
        QTcpSocket raw;
        raw.connectToHost(QStringLiteral("127.0.0.1"), serve->port("raw"));
        QVERIFY(raw.waitForConnected(2000));
        raw.write(QByteArray("*IDN?\n*IDN?\0\n", 13));
        raw.flush();
        QVERIFY(serve->waitForLog("refused from"));
        const QByteArray metrics = answerOf(send("/metrics")).body;
        for (const char *sample :
             {"\nrfconverter_requests_total 3\n", "\nrfconverter_request_errors_total 1\n",
              "\nrfconverter_clients 2\n"})
            QVERIFY2(metrics.contains(sample), metrics.constData());
    }

    // However many scrapes come, at once or one after another, the
    // instrument is asked for its status once a second at most.
    void scrapesShareOneRead()
    {
        QVERIFY(startServe());
        sim->clearReceived();
        for (int round = 0; round < 2; ++round) {
            QList<QNetworkReply *> replies;
            for (int n = 0; n < 4; ++n)
                replies << send(n % 2 ? "/metrics" : "/status.json");
            for (QNetworkReply *reply : replies)
                QCOMPARE(answerOf(reply).status, 200);
        }
        QCOMPARE(statusReads(), 1);
        QTest::qWait(1100);
        QCOMPARE(answerOf(send("/metrics")).status, 200);
        QCOMPARE(statusReads(), 2);
    }

    void identificationDocument_data()
    {
        QTest::addColumn<QString>("listen");
        QTest::addColumn<QString>("ipType");
        QTest::addColumn<QString>("visaHost");
        QTest::newRow("IPv4") << "127.0.0.1"
                              << "IPv4"
                              << "127.0.0.1";
        QTest::newRow("IPv6") << "::1"
                              << "IPv6"
                              << "[::1]";
    }

    // Valid against the published schema, with the interface the services
    // listen on and the VISA addresses a VISA library parses.
    void identificationDocument()
    {
        QFETCH(QString, listen);
        QFETCH(QString, ipType);
        QFETCH(QString, visaHost);
        host = listen;
        QVERIFY(startServe({"--listen", listen}));
        const QByteArray document = answerOf(send("/lxi/identification")).body;
        QProcess xmllint;
        xmllint.start(tool("xmllint"), {"--noout", "--schema", LxiSchema, "-"});
        xmllint.write(document);
        xmllint.closeWriteChannel();
        QVERIFY(xmllint.waitForFinished(10000));
        QVERIFY2(xmllint.exitCode() == 0, xmllint.readAllStandardError() + document);
        QXmlStreamReader xml(document);
        QMultiMap<QString, QString> fields;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("Interface"))
                fields.insert("IPType", xml.attributes().value("IPType").toString());
            else if (xml.name() != QLatin1String("LXIDevice"))
                fields.insert(xml.name().toString(), xml.readElementText());
        }
        QCOMPARE(fields.value("SerialNumber"), QStringLiteral("SN000123"));
        QCOMPARE(fields.value("IPType"), ipType);
        QCOMPARE(fields.value("IPAddress"), listen);
        QCOMPARE(fields.value("IdentificationURL"), url("/lxi/identification"));
        QCOMPARE(fields.value("InstrumentAddressString"),
                 QStringLiteral("TCPIP::%1::%2::SOCKET").arg(visaHost).arg(serve->port("raw")));
    }

    // A client outside --allow is closed before it is answered.
    void allowApplies()
    {
        QVERIFY(startServe({"--allow", "192.0.2.0/24"}));
        QNetworkReply *reply = send("/metrics");
        QCOMPARE(answerOf(reply).status, 0);
        QVERIFY(serve->waitForLog("refused http client 127.0.0.1"));
    }

    // Web clients that hold every connection they may have, sending nothing
    // whole, neither hold up a raw client nor get more connections.
    void slowClientsDelayNobody()
    {
        QVERIFY(startServe());
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int n = 0; n < 9; ++n) {
            slow.push_back(std::make_unique<QTcpSocket>());
            slow.back()->connectToHost(QStringLiteral("127.0.0.1"), serve->port());
            QVERIFY(slow.back()->waitForConnected(2000));
            slow.back()->write("GET /metrics HTTP/1.1\r\nHost: x\r\n");
        }
        QTRY_COMPARE(slow.back()->state(), QAbstractSocket::UnconnectedState);
        QTcpSocket raw;
        raw.connectToHost(QStringLiteral("127.0.0.1"), serve->port("raw"));
        raw.write("*IDN?\n");
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(raw.canReadLine(), 1000);
        QVERIFY(clock.elapsed() < 1000);
    }

    // Headers beyond the memory a connection may have are refused; the
    // service goes on.
    void oversizedHeadersRefused()
    {
        QVERIFY(startServe());
        QTcpSocket client;
        client.connectToHost(QStringLiteral("127.0.0.1"), serve->port());
        client.write("GET /metrics HTTP/1.1\r\nHost: x\r\nX-Filler: " + QByteArray(20000, 'a') +
                     "\r\n\r\n");
        QTRY_VERIFY(client.canReadLine());
        QCOMPARE(client.readLine().split(' ').value(1), QByteArray("431"));
        QCOMPARE(answerOf(send("/metrics")).status, 200);
    }

    // Prometheus, scraping every second, has the simulator's temperature.
    void prometheusScrapes()
    {
        if (tool("prometheus").isEmpty())
            QSKIP("prometheus is not installed");
        QVERIFY(startServe());
        QFile config(workdir.path() + "/prometheus.yml");
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("global: {scrape_interval: 1s}\n"
                                    "scrape_configs:\n"
                                    "  - job_name: rf\n"
                                    "    static_configs: [{targets: ['127.0.0.1:%1']}]\n")
                         .arg(serve->port())
                         .toUtf8());
        config.close();
        const quint16 port = freePort();
        QProcess prometheus;
        prometheus.start(tool("prometheus"),
                         {"--config.file=" + config.fileName(),
                          "--storage.tsdb.path=" + workdir.path() + "/tsdb",
                          QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port)});
        const QString query = QStringLiteral("http://127.0.0.1:%1/api/v1/query?query="
                                             "rfconverter_temperature_celsius")
                                  .arg(port);
        QTRY_VERIFY_WITH_TIMEOUT(
            answerOf(web.get(QNetworkRequest(QUrl(query)))).body.contains("\"41.5\""), 20000);
        prometheus.kill();
        prometheus.waitForFinished(5000);
    }

    void pageShows_data()
    {
        QTest::addColumn<QString>("instrument");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("absent");
        QTest::newRow("link up")
            << "answers"
            << QStringList{"<title>KX4417-UDC SN000123</title>",
                           "id=\"tuneFrequency\"[^>]*>10\\.0000 GHz<",
                           "id=\"lo1Frequency\"[^>]*>10\\.30000 GHz<",
                           "id=\"temperature\"[^>]*>41\\.5 °C<",
                           "id=\"lo2Locked\" class=\"lamp fault\">UNLOCKED<",
                           "id=\"lnaOn\" class=\"lamp idle\">OFF<",
                           "id=\"filterState\"[^>]*>2 \\(10\\.001 – 14\\.000 GHz\\)<"}
            << "lamp unknown|id=\"age\">";
        QTest::newRow("link lost")
            << "goes away"
            << QStringList{"id=\"state\" class=\"down\">[^<]+ — retrying<",
                           "id=\"age\">last read \\d\\d:\\d\\d:\\d\\d, \\d+ s ago<",
                           "id=\"lo1Locked\" class=\"lamp unknown\">LOCKED<",
                           "id=\"tuneFrequency\"[^>]*>10\\.0000 GHz<"}
            << "lamp (on|fault|idle)";
        QTest::newRow("never reached")
            << "is never there"
            << QStringList{"<title>RF converter</title>",
                           "Trying the instrument at 127\\.0\\.0\\.1:\\d+",
                           "id=\"state\" class=\"down\">[^<]+ — retrying<"}
            << "class=\"lamp";
    }

    // The page shows the status with the panel's digits and words, and while
    // it is not current, greys every lamp and says how old it is.
    void pageShows()
    {
        QFETCH(QString, instrument);
        QFETCH(QStringList, present);
        QFETCH(QString, absent);
        if (tool("chromium").isEmpty())
            QSKIP("chromium is not installed");
        if (instrument == "is never there") {
            sim->stop();
            QVERIFY(!startServe());
        } else {
            QVERIFY(startServe());
            QCOMPARE(answerOf(send("/status.json")).status, 200);
        }
        if (instrument == "goes away") {
            sim->stop();
            QVERIFY(serve->waitForLog("link down", 7000));
        }
        const QString rendered = renderedPage();
        const QString page = rendered.left(rendered.indexOf("<script"));
        for (const QString &pattern : present)
            QVERIFY2(page.contains(QRegularExpression(pattern)), qPrintable(pattern + '\n' + page));
        QVERIFY2(!page.contains(QRegularExpression(absent)), qPrintable(page));
    }
};

QTEST_GUILESS_MAIN(HttpTest)
#include "tst_http.moc"
