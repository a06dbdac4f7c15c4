#include "core/texts.h"

#include <QDir>
#include <QMultiMap>
#include <QRegularExpression>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

namespace {

// What a translation must keep of its source: arguments (%1, %s, %d), mnemonics (& before a letter) and
// tab stops, in any order.
QStringList Markers(const QString& text)
{
    static const QRegularExpression marker(QStringLiteral("%[0-9]+|%[a-z]|&[^& ]|\\t"));
    QStringList found;
    for (const QRegularExpressionMatch& m : marker.globalMatch(text))
        found.append(m.captured().startsWith(u'&') ? QStringLiteral("&") : m.captured());
    found.sort();
    return found;
}

// Every message of a .ts file: context, source and translation (empty when unfinished).
struct TMessage
{
    QString Context, Source, Translation;
};

QList<TMessage> ReadTs(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<TMessage> messages;
    QString context;
    QXmlStreamReader xml(&file);
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            TMessage message{context, {}, {}};
            while (xml.readNextStartElement()) {
                const bool unfinished =
                    xml.attributes().value(QLatin1String("type")) == QLatin1String("unfinished");
                if (xml.name() == QLatin1String("source"))
                    message.Source = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                else if (xml.name() == QLatin1String("translation"))
                    message.Translation =
                        unfinished ? QString() : xml.readElementText(QXmlStreamReader::IncludeChildElements);
                else
                    xml.skipCurrentElement();
            }
            messages.append(message);
        }
    }
    return messages;
}

} // namespace

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    // The built German file knows every text of the table, so a text added without its translation fails
    // here rather than showing English in a German window.
    void everyTextIsTranslated()
    {
        QTranslator german;
        QVERIFY(
            german.load(QStringLiteral("sablewick_de"),
                        qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR") + QStringLiteral("/translations")));
        for (int id : Res::Ids()) {
            const QString source = Res::Source(id);
            const QString translated = german.translate("Res", source.toUtf8().constData());
            QVERIFY2(!translated.isEmpty(), qPrintable(QStringLiteral("not translated: %1").arg(source)));
            QCOMPARE(Markers(translated), Markers(source));
        }
        // Installed, it changes what the table gives; removed, the English text is back unchanged.
        const QString english = Res::Str(Res::MenuFile);
        QVERIFY(QCoreApplication::installTranslator(&german));
        QCOMPARE(Res::Str(Res::MenuFile), QStringLiteral("&Datei"));
        QCoreApplication::removeTranslator(&german);
        QCOMPARE(Res::Str(Res::MenuFile), english);
        QCOMPARE(english, QStringLiteral("&File"));
    }

    // Every message of every language file, the windows' own texts too, is finished and keeps its markers.
    void everyMessageKeepsItsMarkers()
    {
        const QDir folder(QStringLiteral(SOURCE_TRANSLATIONS));
        const QStringList files = folder.entryList({QStringLiteral("sablewick_*.ts")});
        QVERIFY(!files.isEmpty());
        for (const QString& file : files) {
            const QList<TMessage> messages = ReadTs(folder.filePath(file));
            QVERIFY(!messages.isEmpty());
            for (const TMessage& m : messages) {
                const QString where = QStringLiteral("%1 %2: %3").arg(file, m.Context, m.Source);
                QVERIFY2(!m.Translation.isEmpty(), qPrintable(QStringLiteral("unfinished: ") + where));
                QVERIFY2(Markers(m.Translation) == Markers(m.Source),
                         qPrintable(QStringLiteral("markers: ") + where));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestTranslations)
#include "tst_translations.moc"
