#include "app/mainImages.h"

#include <QGuiApplication>
#include <QPainter>
#include <QTest>

class TestMainImages : public QObject
{
    Q_OBJECT

private slots:
    void greyLevel_data();
    void greyLevel();
    void greyedImage();
    void disabledIcon();
};

void TestMainImages::greyLevel_data()
{
    QTest::addColumn<QColor>("color");
    QTest::addColumn<int>("addition");
    QTest::addColumn<int>("grey");
    QTest::newRow("magenta background") << QColor(255, 0, 255) << 30 << 200;
    QTest::newRow("black") << QColor(0, 0, 0) << 30 << 30;
    QTest::newRow("white capped") << QColor(255, 255, 255) << 30 << 240;
    QTest::newRow("division rounds down") << QColor(1, 1, 0) << 30 << 30;
    QTest::newRow("addition capped at 100") << QColor(30, 30, 30) << 250 << 130;
    QTest::newRow("just below the cap") << QColor(210, 210, 209) << 30 << 239;
}

void TestMainImages::greyLevel()
{
    QFETCH(QColor, color);
    QFETCH(int, addition);
    QFETCH(int, grey);
    QCOMPARE(GreyLevel(color, addition), QColor(grey, grey, grey));
}

void TestMainImages::greyedImage()
{
    // A transparent image with one red and one black pixel.
    QImage source(4, 4, QImage::Format_ARGB32);
    source.fill(Qt::transparent);
    source.setPixel(1, 1, qRgb(255, 0, 0));
    source.setPixel(2, 2, qRgb(0, 0, 0));
    const QImage grey = GreyedImage(source, QSize(4, 4));

    QCOMPARE(grey.size(), QSize(4, 4));
    // The background became grey 200 and is the transparent colour now.
    QCOMPARE(qAlpha(grey.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(grey.pixel(3, 3)), 0);
    // Red (255 + 0 + 0) div 3 + 30 = 115; black gives the addition alone.
    QCOMPARE(grey.pixel(1, 1), qRgb(115, 115, 115));
    QCOMPARE(grey.pixel(2, 2), qRgb(30, 30, 30));

    // An image whose top-left pixel is drawn: its grey is the transparent one, wherever it occurs.
    QImage full(2, 1, QImage::Format_ARGB32);
    full.setPixel(0, 0, qRgb(90, 90, 90));
    full.setPixel(1, 0, qRgb(0, 90, 180));
    const QImage greyFull = GreyedImage(full, QSize(2, 1));
    QCOMPARE(qAlpha(greyFull.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(greyFull.pixel(1, 0)), 0);
}

void TestMainImages::disabledIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.fillRect(4, 4, 8, 8, QColor(0, 0, 255));
    }
    QList<QIcon> icons{QIcon(pixmap)};
    MakeDisabledImages(icons, {QSize(16, 16)});
    const QIcon& icon = icons.first();
    const QImage disabled = icon.pixmap(QSize(16, 16), QIcon::Disabled).toImage();
    QCOMPARE(qAlpha(disabled.pixel(0, 0)), 0);
    QCOMPARE(QColor(disabled.pixel(8, 8)), QColor(115, 115, 115));
    // The normal image stays as it was.
    QCOMPARE(QColor(icon.pixmap(QSize(16, 16)).toImage().pixel(8, 8)), QColor(0, 0, 255));
}

QTEST_MAIN(TestMainImages)
#include "tst_mainImages.moc"
