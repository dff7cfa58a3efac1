#include "artwork.h"
#include "icofile.h"
#include "testworkdir.h"

#include <QIcon>
#include <QImageReader>
#include <QXmlStreamReader>
#include <QtEndian>
#include <QtTest>

namespace
{

// Mean colour of the opaque pixels, weighted by their opacity.
QColor meanColour(const QImage &image)
{
    const QImage img = image.convertToFormat(QImage::Format_ARGB32);
    double r = 0, g = 0, b = 0, weight = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb px = img.pixel(x, y);
            const double a = qAlpha(px) / 255.0;
            r += qRed(px) * a;
            g += qGreen(px) * a;
            b += qBlue(px) * a;
            weight += a;
        }
    if (weight == 0)
        return QColor(0, 0, 0, 0);
    return QColor(int(r / weight), int(g / weight), int(b / weight));
}

int opaquePixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128;
    return count;
}

int differingPixels(const QImage &a, const QImage &b)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            count += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) +
                         qAbs(qBlue(p) - qBlue(q)) + qAbs(qAlpha(p) - qAlpha(q)) >
                     96;
        }
    return count;
}

// As the window shows it: scaled into a small label.
QImage atDisplaySize(const QString &name, int size)
{
    return Artwork::draw(name)
        .scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

bool columnIsClear(const QImage &image, int x)
{
    for (int y = 0; y < image.height(); ++y)
        if (qAlpha(image.pixel(x, y)) != 0)
            return false;
    return true;
}

bool rowIsClear(const QImage &image, int y)
{
    for (int x = 0; x < image.width(); ++x)
        if (qAlpha(image.pixel(x, y)) != 0)
            return false;
    return true;
}

} // namespace

class TestArtwork : public QObject
{
    Q_OBJECT

private slots:
    void writesEveryPictureAtItsSizeOnATransparentGround();
    void iconFileHoldsEverySize();
    void appIconsAreLaidOutAsAnIconTheme();
    void iconEncoderRejectsWhatItCannotStore();
    void iconFileIsReproducible();
    void lampsReadAsTheirColoursAtLampSize();
    void statePairsStayDistinctWhenSmall();
    void logoTextIsNotClipped();
    void unknownNamesDrawNothing();
    void unwritableFolderIsReportedAsFailure();
    void resourceCollectionMatchesThePictures();
};

void TestArtwork::writesEveryPictureAtItsSizeOnATransparentGround()
{
    TestWorkdir work;
    QStringList errors;
    QVERIFY(Artwork::writeAll(work.path() + "/out", &errors));
    QVERIFY(errors.isEmpty());

    for (const QString &name : Artwork::fileNames()) {
        const QString path = work.path() + "/out/" + name;
        QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        QCOMPARE(image.size(), Artwork::sizeOf(name));
        QVERIFY2(image.hasAlphaChannel(), qPrintable(name));
        image = image.convertToFormat(QImage::Format_ARGB32);
        const int w = image.width() - 1, h = image.height() - 1;
        for (const QPoint &corner : {QPoint(0, 0), QPoint(w, 0), QPoint(0, h), QPoint(w, h)})
            QVERIFY2(qAlpha(image.pixel(corner)) == 0, qPrintable(name));
        QVERIFY2(opaquePixels(image) > image.width() * image.height() / 10, qPrintable(name));
    }
}

void TestArtwork::iconFileHoldsEverySize()
{
    TestWorkdir work;
    QStringList errors;
    QVERIFY(Artwork::writeAll(work.path(), &errors));

    QImageReader reader(work.path() + "/mainicon.ico");
    const QList<int> sizes = Artwork::iconSizes();
    QCOMPARE(reader.imageCount(), sizes.size());
    for (int i = 0; i < sizes.size(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(sizes[i], sizes[i]));
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QVERIFY(qAlpha(image.pixel(sizes[i] / 2, sizes[i] / 2)) > 200);
    }

    const QIcon icon(work.path() + "/mainicon.ico");
    QCOMPARE(icon.availableSizes().size(), sizes.size());
}

void TestArtwork::appIconsAreLaidOutAsAnIconTheme()
{
    TestWorkdir work;
    QStringList errors;
    QVERIFY(Artwork::writeAppIcons(work.path() + "/hicolor", "panel", &errors));
    QVERIFY(errors.isEmpty());
    for (int size : Artwork::appIconSizes()) {
        const QString path =
            QStringLiteral("%1/hicolor/%2x%2/apps/panel.png").arg(work.path()).arg(size);
        QImageReader reader(path);
        QCOMPARE(reader.format(), QByteArray("png"));
        QCOMPARE(reader.size(), QSize(size, size));
    }
    QVERIFY(Artwork::appIconSizes().contains(48) && Artwork::appIconSizes().contains(256));
}

void TestArtwork::iconEncoderRejectsWhatItCannotStore()
{
    QVERIFY(IcoFile::encode({}).isEmpty());
    QImage good(32, 32, QImage::Format_ARGB32);
    good.fill(Qt::red);
    QVERIFY(IcoFile::encode({good, QImage()}).isEmpty());
    QVERIFY(!IcoFile::encode({good}).isEmpty());
}

void TestArtwork::iconFileIsReproducible()
{
    // 24 px: each 3-byte mask row is padded to 4 bytes, and that padding
    // byte must be written as zero, not left as whatever memory held
    QImage image(24, 24, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const QByteArray file = IcoFile::encode({image});
    QVERIFY(!file.isEmpty());
    QCOMPARE(IcoFile::encode({image}), file);

    const int dataOffset = qFromLittleEndian<quint32>(file.constData() + 6 + 12);
    const int headerLength = qFromLittleEndian<quint32>(file.constData() + dataOffset);
    const int mask = dataOffset + headerLength + 24 * 24 * 4;
    QCOMPARE(file.size(), mask + 24 * 4);
    for (int row = 0; row < 24; ++row)
        QCOMPARE(int(file.at(mask + row * 4 + 3)), 0);
}

void TestArtwork::lampsReadAsTheirColoursAtLampSize()
{
    const QColor on = meanColour(atDisplaySize("lighton.png", 25));
    const QColor off = meanColour(atDisplaySize("lightoff.png", 25));
    const QColor blue = meanColour(atDisplaySize("lightblue.png", 25));

    QVERIFY(on.green() > on.red() + 40 && on.green() > on.blue() + 40);
    QVERIFY(blue.blue() > blue.red() + 40 && blue.blue() > blue.green() + 20);
    QVERIFY(qAbs(off.red() - off.green()) < 12 && qAbs(off.green() - off.blue()) < 12);
    QVERIFY(off.value() < on.value());
}

void TestArtwork::statePairsStayDistinctWhenSmall()
{
    const QImage locked = atDisplaySize("Lock-icon.png", 40);
    const QImage unlocked = atDisplaySize("Lock-Unlock-icon.png", 40);
    QVERIFY(differingPixels(locked, unlocked) > 40);

    const QImage lnaOff = atDisplaySize("poweron.png", 32);
    const QImage lnaOn = atDisplaySize("powersymbol.png", 32);
    QVERIFY(differingPixels(lnaOff, lnaOn) > 32 * 32 / 3);
}

void TestArtwork::logoTextIsNotClipped()
{
    const QImage logo = Artwork::draw("logo.png").convertToFormat(QImage::Format_ARGB32);
    QVERIFY(columnIsClear(logo, 0));
    QVERIFY(columnIsClear(logo, logo.width() - 1));
    QVERIFY(rowIsClear(logo, 0));
    QVERIFY(rowIsClear(logo, logo.height() - 1));
    // the text reaches well into the right half, so the wordmark was not lost
    QVERIFY(!columnIsClear(logo, logo.width() / 2));
}

void TestArtwork::unknownNamesDrawNothing()
{
    QVERIFY(Artwork::draw("missing.png").isNull());
    QVERIFY(Artwork::sizeOf("missing.png").isEmpty());
    QVERIFY(Artwork::draw(QString()).isNull());
}

void TestArtwork::unwritableFolderIsReportedAsFailure()
{
    TestWorkdir work;
    QFile blocker(work.path() + "/taken");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    QStringList errors;
    QVERIFY(!Artwork::writeAll(work.path() + "/taken", &errors));
    QVERIFY(!errors.isEmpty());
    QVERIFY(!Artwork::writeAll(work.path() + "/taken/sub", &errors));
    errors.clear();
    QVERIFY(!Artwork::writeAppIcons(work.path() + "/taken", "panel", &errors));
    QCOMPARE(errors.size(), Artwork::appIconSizes().size());
}

void TestArtwork::resourceCollectionMatchesThePictures()
{
    QFile qrc(QStringLiteral(ARTWORK_SOURCE_DIR) + "/resources.qrc");
    QVERIFY(qrc.open(QIODevice::ReadOnly));
    QStringList listed;
    QStringList prefixes;
    QXmlStreamReader xml(&qrc);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("qresource"))
            prefixes << xml.attributes().value("prefix").toString();
        else if (xml.name() == QLatin1String("file"))
            listed << xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(prefixes, QStringList{"/new/prefix1"});
    QStringList expected;
    for (const QString &name : Artwork::fileNames())
        expected << "Pictures/" + name;
    listed.sort();
    expected.sort();
    QCOMPARE(listed, expected);

    for (const QString &name : Artwork::fileNames()) {
        const QString path = QStringLiteral(ARTWORK_SOURCE_DIR) + "/Pictures/" + name;
        QImageReader reader(path);
        QVERIFY2(reader.canRead(), qPrintable(path));
        QCOMPARE(reader.size(), Artwork::sizeOf(name));
    }
}

QTEST_MAIN(TestArtwork)
#include "tst_artwork.moc"
