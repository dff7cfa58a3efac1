#include "panelscreenshot.h"
#include "simserver.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

class TestPanelScreenshot : public QObject
{
    Q_OBJECT

private slots:
    void picturesTheConnectedWindow();
    void relativePathIsTakenFromTheCallersFolder();
    void absentInstrumentFailsWithoutWriting();
    void missingStatusFailsWithoutWriting();
    void unwritableTargetIsReported();
};

void TestPanelScreenshot::picturesTheConnectedWindow()
{
    SimServer instrument;
    QVERIFY(instrument.start(0));
    QTemporaryDir out;
    const QString path = out.filePath("shots/panel.png");

    QString error;
    QVERIFY2(PanelScreenshot(instrument.port(), 20000).capture(path, &error), qPrintable(error));
    const QImage picture(path);
    QVERIFY(!picture.isNull());
    QVERIFY(picture.width() >= 450 && picture.width() <= 680);
    QVERIFY(picture.height() >= 75 && picture.height() <= 825);
    // the status was asked for and answered before the picture was taken
    QVERIFY(instrument.receivedLines().contains("syst:readstate?", Qt::CaseInsensitive));
}

void TestPanelScreenshot::relativePathIsTakenFromTheCallersFolder()
{
    SimServer instrument;
    QVERIFY(instrument.start(0));
    QTemporaryDir out;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(out.path());

    QString error;
    const bool ok = PanelScreenshot(instrument.port(), 20000).capture("rel.png", &error);
    const QString cwdAfter = QDir::currentPath();
    QDir::setCurrent(previous);
    QVERIFY2(ok, qPrintable(error));
    QCOMPARE(cwdAfter, out.path());
    QVERIFY(QFile::exists(out.filePath("rel.png")));
}

void TestPanelScreenshot::absentInstrumentFailsWithoutWriting()
{
    // a port that was free a moment ago: nothing answers there
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    QTemporaryDir out;

    QString error;
    QVERIFY(!PanelScreenshot(port, 3000).capture(out.filePath("none.png"), &error));
    QVERIFY2(error.contains("did not connect"), qPrintable(error));
    QVERIFY(!QFile::exists(out.filePath("none.png")));
}

void TestPanelScreenshot::missingStatusFailsWithoutWriting()
{
    SimServer instrument;
    QVERIFY(instrument.start(0));
    instrument.setFault(SimServer::Fault::NoReply, 0, "syst:readstate");
    QTemporaryDir out;

    QString error;
    QVERIFY(!PanelScreenshot(instrument.port(), 8000).capture(out.filePath("none.png"), &error));
    QVERIFY2(error.contains("status"), qPrintable(error));
    QVERIFY(!QFile::exists(out.filePath("none.png")));
}

void TestPanelScreenshot::unwritableTargetIsReported()
{
    SimServer instrument;
    QVERIFY(instrument.start(0));
    QTemporaryDir out;
    QFile blocker(out.filePath("taken"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    QString error;
    QVERIFY(!PanelScreenshot(instrument.port(), 20000)
                 .capture(out.filePath("taken/panel.png"), &error));
    QVERIFY2(error.contains("cannot write"), qPrintable(error));
}

QTEST_MAIN(TestPanelScreenshot)
#include "tst_panelscreenshot.moc"
