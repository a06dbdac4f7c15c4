#include <QTest>
class TestDatabase : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"
