#include "ui/hyperlinkLabel.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

// Takes the place of the desktop's browser for the schemes the tests use.
class TUrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> Opened;

public slots:
    void Open(const QUrl& url) { Opened << url; }
};

class TestHyperlinkLabel : public QObject
{
    Q_OBJECT

private:
    TUrlRecorder FRecorder;

private slots:
    void initTestCase()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &FRecorder, "Open");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &FRecorder, "Open");
    }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    }
    void init() { FRecorder.Opened.clear(); }

    void look()
    {
        THyperlinkLabel link;
        QCOMPARE(link.palette().color(QPalette::WindowText), link.palette().color(QPalette::Highlight));
        QCOMPARE(link.cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(!link.font().underline());

        link.setText(QStringLiteral("https://site.example/"));
        link.show();
        QVERIFY(QTest::qWaitForWindowExposed(&link));
        const QPointF inside(2, 2);
        QEnterEvent enter(inside, inside, link.mapToGlobal(inside));
        QCoreApplication::sendEvent(&link, &enter);
        QVERIFY(link.font().underline());
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(&link, &leave);
        QVERIFY(!link.font().underline());
    }

    void clickOpensTarget_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("opened");
        QTest::newRow("full address") << "https://site.example/path?q=1"
                                      << "https://site.example/path?q=1";
        QTest::newRow("bare host") << "www.site.example"
                                   << "http://www.site.example";
        QTest::newRow("no target") << ""
                                   << "";
    }
    void clickOpensTarget()
    {
        QFETCH(QString, target);
        QFETCH(QString, opened);
        THyperlinkLabel link;
        link.setText(QStringLiteral("a link"));
        link.SetTarget(target);
        link.resize(120, 20);
        link.show();
        QVERIFY(QTest::qWaitForWindowExposed(&link));
        QSignalSpy clicks(&link, &THyperlinkLabel::clicked);
        QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(clicks.size(), 1);
        if (opened.isEmpty()) {
            QVERIFY(FRecorder.Opened.isEmpty());
        } else {
            QCOMPARE(FRecorder.Opened.size(), 1);
            QCOMPARE(FRecorder.Opened.first(), QUrl(opened));
        }
    }

    void releaseOutsideOrOtherButtonIsNoClick()
    {
        THyperlinkLabel link;
        link.setText(QStringLiteral("a link"));
        link.SetTarget(QStringLiteral("https://site.example/"));
        link.resize(120, 20);
        link.show();
        QVERIFY(QTest::qWaitForWindowExposed(&link));
        QTest::mousePress(&link, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(&link, Qt::LeftButton, {}, QPoint(500, 5));
        QTest::mouseClick(&link, Qt::RightButton, {}, QPoint(5, 5));
        QVERIFY(FRecorder.Opened.isEmpty());
    }
};

QTEST_MAIN(TestHyperlinkLabel)
#include "tst_hyperlinkLabel.moc"
