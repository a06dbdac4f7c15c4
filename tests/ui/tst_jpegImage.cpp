#include "core/exceptions.h"
#include "core/texts.h"
#include "ui/jpegImage.h"

#include <QBuffer>
#include <QImageWriter>
#include <QTest>

namespace {

// A JPEG file written by Qt's own encoder: the top half red, the bottom half blue.
QByteArray MakeJpeg(int width, int height, bool grey = false, QImage* source = nullptr)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::red);
    for (int y = height / 2; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(0, 0, 255));
    if (grey)
        image = image.convertToFormat(QImage::Format_Grayscale8);
    if (source)
        *source = image;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(95);
    if (!writer.write(image))
        qFatal("JPEG encoder not available: %s", qPrintable(writer.errorString()));
    return bytes;
}

// Rewrites the frame size in the first start-of-frame marker.
QByteArray WithFrameSize(QByteArray jpeg, int width, int height)
{
    for (int i = 2; i + 9 < jpeg.size(); ++i) {
        const uchar marker = uchar(jpeg[i + 1]);
        if (uchar(jpeg[i]) == 0xFF && (marker == 0xC0 || marker == 0xC1 || marker == 0xC2)) {
            jpeg[i + 5] = char(height >> 8);
            jpeg[i + 6] = char(height);
            jpeg[i + 7] = char(width >> 8);
            jpeg[i + 8] = char(width);
            return jpeg;
        }
    }
    qFatal("no frame marker");
}

// A progressive JPEG file whose last scan is repeated: libjpeg takes each repeat as one more scan over the
// whole image and only warns about it.
QByteArray WithRepeatedScan(int repeats)
{
    QImage image(256, 256, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    if (!writer.write(image))
        qFatal("JPEG encoder not available: %s", qPrintable(writer.errorString()));
    // Inside entropy-coded data a 0xFF byte is followed by 0x00, so this is the last scan's marker.
    const qsizetype lastScan = bytes.lastIndexOf(QByteArray("\xFF\xDA", 2));
    if (lastScan < 0 || !bytes.endsWith(QByteArray("\xFF\xD9", 2)))
        qFatal("not a progressive JPEG file");
    const QByteArray scan = bytes.mid(lastScan, bytes.size() - 2 - lastScan);
    return bytes.left(bytes.size() - 2) + scan.repeated(repeats) + QByteArray("\xFF\xD9", 2);
}

} // namespace

class TestJpegImage : public QObject
{
    Q_OBJECT

private slots:
    void decodesColourAndGrey_data()
    {
        QTest::addColumn<bool>("grey");
        QTest::newRow("colour") << false;
        QTest::newRow("grey") << true;
    }
    void decodesColourAndGrey()
    {
        QFETCH(bool, grey);
        QImage source;
        const QImage image = DecodeJpeg(MakeJpeg(33, 20, grey, &source));
        QCOMPARE(image.size(), QSize(33, 20));
        const QColor top = image.pixelColor(16, 2);
        const QColor bottom = image.pixelColor(16, 17);
        if (grey) {
            QCOMPARE(top.red(), top.blue());
            QVERIFY(qAbs(top.red() - source.pixelColor(16, 2).red()) < 12);
            QVERIFY(qAbs(bottom.red() - source.pixelColor(16, 17).red()) < 12);
            QVERIFY(top.red() != bottom.red());
        } else {
            QVERIFY2(top.red() > 220 && top.blue() < 40, qPrintable(top.name()));
            QVERIFY2(bottom.blue() > 220 && bottom.red() < 40, qPrintable(bottom.name()));
        }
    }

    void refusesBadInput_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("tooLarge");
        const QByteArray good = MakeJpeg(16, 16);
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("text") << QByteArray("this is not an image") << false;
        QTest::newRow("start of image only") << QByteArray("\xFF\xD8", 2) << false;
        QTest::newRow("header cut") << good.left(40) << false;
        QTest::newRow("png") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << false;
        QTest::newRow("huge frame") << WithFrameSize(good, 60000, 60000) << true;
        QTest::newRow("zero width") << WithFrameSize(good, 0, 16) << false;
    }
    void refusesBadInput()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, tooLarge);
        try {
            DecodeJpeg(data);
            QFAIL("decoded what is not a usable JPEG image");
        } catch (const Exception& e) {
            if (tooLarge)
                QCOMPARE(e.Message(), Res::Str(Res::JpegTooLarge));
            else
                QVERIFY2(e.Message().startsWith(QStringLiteral("JPEG error: ")), qPrintable(e.Message()));
        }
    }

    void boundsTheNumberOfScans_data()
    {
        QTest::addColumn<int>("repeats");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("as written") << 0 << true;
        QTest::newRow("a few repeats") << 20 << true;
        QTest::newRow("endless repeats") << 5000 << false;
    }
    void boundsTheNumberOfScans()
    {
        QFETCH(int, repeats);
        QFETCH(bool, decodes);
        const QByteArray data = WithRepeatedScan(repeats);
        if (decodes) {
            QCOMPARE(DecodeJpeg(data).size(), QSize(256, 256));
            return;
        }
        try {
            DecodeJpeg(data);
            QFAIL("decoded thousands of scans");
        } catch (const Exception& e) {
            QCOMPARE(e.Message(), Res::Str(Res::JpegTooManyScans));
        }
    }

    void truncatedDataStillGivesImage()
    {
        // Damage after the header is recoverable: libjpeg fills the rest, as viewers do.
        const QByteArray good = MakeJpeg(64, 64);
        const QImage image = DecodeJpeg(good.left(good.size() - 40));
        QCOMPARE(image.size(), QSize(64, 64));
    }
};

QTEST_MAIN(TestJpegImage)
#include "tst_jpegImage.moc"
