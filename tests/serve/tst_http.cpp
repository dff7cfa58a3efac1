#include "serveprocess.h"
#include "simserver.h"
#include "testworkdir.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QXmlStreamReader>
#include <QtTest>
#include <csignal>
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
                            QStringLiteral("http")) &&
               serve->waitForLog("status reads succeed");
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

    // `request` as written, from `from`, and the reply until the server closes.
    QByteArray exchange(const QByteArray &request, const char *from = "127.0.0.1")
    {
        QTcpSocket socket;
        socket.bind(QHostAddress(QString::fromLatin1(from)));
        socket.connectToHost(QStringLiteral("127.0.0.1"), serve->port());
        socket.waitForConnected(ReplyMs);
        socket.write(request);
        return replyOf(socket);
    }
    static QByteArray replyOf(QTcpSocket &socket)
    {
        while (socket.state() == QAbstractSocket::ConnectedState &&
               socket.waitForReadyRead(ReplyMs)) {
        }
        return socket.readAll();
    }
    QByteArray metrics() { return answerOf(send("/metrics")).body; }

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
        // A header of the reply and its value; an empty value: no such header.
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QByteArray>("value");
        const auto row = [](const char *name, const char *method, const char *path, int status,
                            const char *contains, const char *header = "", const char *value = "") {
            QTest::newRow(name) << QByteArray(method) << QString::fromLatin1(path) << status
                                << QByteArray(contains) << QByteArray(header) << QByteArray(value);
        };
        row("metrics", "GET", "/metrics", 200, "\nrfconverter_temperature_celsius 41.5\n",
            "X-Content-Type-Options", "nosniff");
        row("metrics in base units", "GET", "/metrics", 200,
            "\nrfconverter_tune_frequency_hertz 10000000000\n");
        row("lock by LO", "GET", "/metrics", 200, "\nrfconverter_lo_locked{lo=\"2\"} 0\n");
        row("identification as a label", "GET", "/metrics", 200,
            "rfconverter_info{model=\"KX4417-UDC\",serial=\"SN000123\"");
        row("interval", "GET", "/metrics", 200, "\nrfconverter_status_interval_seconds 0.5\n");
        row("no lock", "GET", "/metrics", 200, "\nrfconverter_instrument_locked 0\n");
        row("status", "GET", "/status.json", 200, "\"lo2Locked\":false");
        row("status current", "GET", "/status.json", 200, "\"stale\":false",
            "Content-Security-Policy", "");
        row("page", "GET", "/", 200, "<html", "X-Content-Type-Options", "nosniff");
        row("HEAD", "HEAD", "/metrics", 200, "");
        row("POST", "POST", "/metrics", 405, "", "Allow", "GET, HEAD");
        row("PUT", "PUT", "/", 405, "");
        row("unknown path", "GET", "/syst:readstate?", 404, "");
        row("metrics as a prefix", "GET", "/metricsX", 404, "");
    }

    // Only the status query reaches the instrument, and only for GET.
    void answers()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QByteArray, contains);
        QFETCH(QByteArray, header);
        QFETCH(QByteArray, value);
        QVERIFY(startServe({"--status-interval", "0.5"}));
        sim->clearReceived();
        QNetworkReply *reply = send(path, method);
        const Answer answer = answerOf(reply);
        QCOMPARE(answer.status, status);
        QVERIFY2(answer.body.contains(contains), answer.body.constData());
        if (!header.isEmpty())
            QCOMPARE(reply->rawHeader(header), value);
        for (const QString &line : sim->receivedLines())
            QCOMPARE(line, QStringLiteral("syst:readstate?"));
    }

    // The server's counters take in every service: a raw client's query and
    // its refused request, and the raw and HTTP clients; not the server's own
    // status reads, which count apart.
    void countersCoverEveryService()
    {
        QVERIFY(startServe());
        QTcpSocket raw;
        raw.connectToHost(QStringLiteral("127.0.0.1"), serve->port("raw"));
        QVERIFY(raw.waitForConnected(2000));
        raw.write(QByteArray("*IDN?\n*IDN?\0\n", 13));
        raw.flush();
        QVERIFY(serve->waitForLog("refused from"));
        QTRY_VERIFY(raw.canReadLine());
        const QByteArray metrics = answerOf(send("/metrics")).body;
        for (const char *sample :
             {"\nrfconverter_requests_total 2\n", "\nrfconverter_request_errors_total 1\n",
              "\nrfconverter_clients 2\n", "\nrfconverter_status_read_errors_total 0\n"})
            QVERIFY2(metrics.contains(sample), metrics.constData());
    }

    // However many requests come, the instrument is asked for its status
    // once an interval, and each is answered at once.
    void readsOnItsOwnSchedule()
    {
        QVERIFY(startServe({"--status-interval", "0.5"}));
        sim->clearReceived();
        QElapsedTimer clock;
        clock.start();
        for (int n = 0; n < 80; ++n)
            QCOMPARE(answerOf(send(n % 2 ? "/metrics" : "/status.json")).status, 200);
        QTest::qWait(1200);
        QVERIFY(statusReads() <= clock.elapsed() / 500 + 1);
        QVERIFY(statusReads() >= 2);
    }

    // Text from the instrument cannot break out of a label.
    void labelsEscaped()
    {
        sim->setReply("*IDN?", "Ostrelin,KX4417-UDC,SN\"1\\,2.4.1");
        QVERIFY(startServe());
        QVERIFY2(metrics().contains("serial=\"SN\\\"1\\\\\""), metrics().constData());
    }

    void requests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        const auto row = [](const char *name, const QByteArray &head, int status) {
            QTest::newRow(name) << head + "Connection: close\r\n\r\n" << status;
        };
        row("HTTP/1.1 without Host", "GET /metrics HTTP/1.1\r\n", 400);
        row("HTTP/1.0 without Host", "GET /metrics HTTP/1.0\r\n", 200);
        row("two Hosts", "GET / HTTP/1.1\r\nHost: localhost\r\nHost: localhost\r\n", 400);
        row("localhost", "GET /metrics HTTP/1.1\r\nHost: localhost:80\r\n", 200);
        row("loopback address", "GET /metrics HTTP/1.1\r\nHost: 127.0.0.7\r\n", 200);
        row("IPv6 loopback", "GET /metrics HTTP/1.1\r\nHost: [::1]:8080\r\n", 200);
        row("name added", "GET /metrics HTTP/1.1\r\nHost: Rack7.lab\r\n", 200);
        row("international name added", "GET / HTTP/1.1\r\nHost: xn--bcher-kva.lab\r\n", 200);
        row("other name", "GET /metrics HTTP/1.1\r\nHost: rebind.example\r\n", 421);
        row("other address", "GET / HTTP/1.1\r\nHost: 192.0.2.1\r\n", 421);
        row("absolute-form", "GET http://localhost/status.json HTTP/1.1\r\nHost: x\r\n", 200);
        row("absolute-form elsewhere",
            "GET http://rebind.example/metrics HTTP/1.1\r\nHost: localhost\r\n", 421);
        row("unknown version", "GET /metrics HTTP/3.0\r\nHost: localhost\r\n", 505);
        row("malformed", "GET / HTTP/1.1\rX\r\nHost: localhost\r\n", 400);
        row("target too long", "GET /" + QByteArray(20000, 'a') + " HTTP/1.1\r\n", 414);
        row("headers too large",
            "GET / HTTP/1.1\r\nHost: localhost\r\nX: " + QByteArray(20000, 'a') + "\r\n", 431);
    }

    // Each request is answered as HTTP asks and counted, with its error,
    // whether the service or libmicrohttpd answered it.
    void requests()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        QVERIFY(startServe({"--http-host", "rack7.lab", "--http-host", "Bücher.lab"}));
        const QByteArray reply = exchange(request);
        QCOMPARE(reply.split(' ').value(1).toInt(), status);
        QVERIFY(reply.contains("\r\n\r\n"));
        const QByteArray counted = metrics();
        QVERIFY(counted.contains("\nrfconverter_http_requests_total 1\n"));
        QVERIFY2(counted.contains(QByteArray("\nrfconverter_http_errors_total ") +
                                  (status < 400 ? "0\n" : "1\n")),
                 counted.constData());
    }

    // While a VXI-11 client holds the lock, the web service answers at once
    // from a status that ages until the instrument counts as lost.
    void lockAgesTheStatus()
    {
        QVERIFY(startServe({"--vxi11", "--status-interval", "0.2"}));
        QProcess holder;
        holder.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(VXI11_CLIENT), QStringLiteral("127.0.0.1"), "holding"});
        QVERIFY(holder.waitForReadyRead(10000));
        QTRY_VERIFY(metrics().contains("\nrfconverter_up 0\n"));
        QElapsedTimer clock;
        clock.start();
        const QByteArray locked = metrics();
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(locked.contains("\nrfconverter_instrument_locked 1\n"));
        QVERIFY(!locked.contains("rfconverter_temperature_celsius"));
        QVERIFY(locked.contains("\nrfconverter_status_age_seconds "));
        const QByteArray json = answerOf(send("/status.json")).body;
        QVERIFY(json.contains("\"lockedByClient\":true"));
        QVERIFY2(json.contains("\"problem\":\"a client holds the instrument's lock\""), json);
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(5000));
        QTRY_VERIFY(metrics().contains("\nrfconverter_up 1\n"));
    }

    // Clients trickling request heads from several addresses into every
    // connection shut out no one who sends a request whole, and each loses
    // its connection at the head deadline.
    void slowHeadsShutOutNobody()
    {
        QVERIFY(startServe());
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int address = 2; address <= 5; ++address) {
            for (int n = 0; n < 8; ++n) {
                slow.push_back(std::make_unique<QTcpSocket>());
                slow.back()->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(address)));
                slow.back()->connectToHost(QStringLiteral("127.0.0.1"), serve->port());
                slow.back()->write("GET /metrics HTTP/1.1\r\n");
            }
        }
        QTimer trickle;
        connect(&trickle, &QTimer::timeout, this, [&slow] {
            for (const auto &socket : slow)
                socket->write("X");
        });
        trickle.start(300);
        QTest::qWait(500);
        QElapsedTimer clock;
        clock.start();
        const QByteArray reply =
            exchange("GET /metrics HTTP/1.1\r\nHost: localhost\r\n\r\n", "127.0.0.9");
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(reply.startsWith("HTTP/1.1 200"));
        QVERIFY(serve->waitForLog("every connection is taken"));
        for (const auto &socket : slow)
            QTRY_COMPARE_WITH_TIMEOUT(socket->state(), QAbstractSocket::UnconnectedState, 5000);
    }

    // An instrument that stops answering is taken for gone, and reached again.
    void silentInstrumentReconnected()
    {
        QVERIFY(startServe());
        sim->setFault(SimServer::Fault::NoReply);
        QVERIFY(serve->waitForLog("link down: no reply to syst:readstate?"));
        sim->clearFault();
        QVERIFY(serve->waitForLog("link up"));
    }

    void stopAnswersEveryRequest_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }

    // Requests under way when the server is told to stop are answered in
    // full before it ends.
    void stopAnswersEveryRequest()
    {
        QFETCH(int, signal);
        QVERIFY(startServe());
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int n = 0; n < 8; ++n) {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QStringLiteral("127.0.0.1"), serve->port());
            clients.back()->write("GET /status.json HTTP/1.1\r\nHost: localhost\r\n");
            QVERIFY(clients.back()->waitForBytesWritten(1000));
        }
        QTest::qWait(100);
        serve->signal(signal);
        for (const auto &client : clients)
            client->write("\r\n");
        for (const auto &client : clients) {
            const QByteArray reply = replyOf(*client);
            QVERIFY2(reply.startsWith("HTTP/1.1 200") && reply.endsWith("}"), reply.constData());
        }
        QCOMPARE(serve->exitCode(), 0);
        serve.reset();
    }

    void linkDown_data()
    {
        QTest::addColumn<bool>("everUp");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contains");
        QTest::newRow("lost: not up")
            << true << "/metrics" << 200 << QByteArray("\nrfconverter_up 0\n");
        QTest::newRow("lost: scrapes no errors")
            << true << "/metrics" << 200 << QByteArray("\nrfconverter_request_errors_total 0\n");
        QTest::newRow("lost: why") << true << "/status.json" << 200
                                   << QByteArray("\"problem\":\"the instrument closed the link\"");
        QTest::newRow("lost: last status")
            << true << "/status.json" << 200 << QByteArray("\"temperature\":{");
        QTest::newRow("never: not up")
            << false << "/metrics" << 200 << QByteArray("\nrfconverter_up 0\n");
        QTest::newRow("never: where")
            << false << "/status.json" << 200 << QByteArray("\"target\":\"127.0.0.1:");
        QTest::newRow("never: no identification")
            << false << "/lxi/identification" << 503 << QByteArray();
    }

    // Without the instrument every request is still answered at once, and
    // says why and since when.
    void linkDown()
    {
        QFETCH(bool, everUp);
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QByteArray, contains);
        if (!everUp)
            sim->stop();
        serve = std::make_unique<ServeProcess>(QStringLiteral(RFCTL_PATH));
        QVERIFY(serve->start({"--tcp", QStringLiteral("127.0.0.1:%1").arg(sim->port()), "serve",
                              "--raw-port", "0", "--http-port", "0"},
                             QStringLiteral("http"), everUp));
        if (everUp) {
            QVERIFY(serve->waitForLog("status reads succeed"));
            sim->stop();
            QTRY_VERIFY(answerOf(send("/status.json")).body.contains("\"linkUp\":false"));
        }
        for (int scrape = 0; scrape < 3; ++scrape)
            answerOf(send(path));
        QNetworkReply *reply = send(path);
        const Answer answer = answerOf(reply);
        QCOMPARE(answer.status, status);
        QVERIFY2(answer.body.contains(contains), answer.body.constData());
        QCOMPARE(reply->hasRawHeader("Retry-After"), status == 503);
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
