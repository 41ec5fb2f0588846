#include "Platform/Localization.h"

#include <QTranslator>
#include <QtTest>

class TestLocalization : public QObject {
    Q_OBJECT
private slots:
    void englishIsTheFallbackAndAnEmbeddedTranslationIsUsed();
    void everyMarkedTextHasAGermanTranslation();
};

void TestLocalization::englishIsTheFallbackAndAnEmbeddedTranslationIsUsed() {
    QVERIFY(!vt_installTranslations(*QCoreApplication::instance(), QLocale(QLocale::French)));
    QCOMPARE(vt_localized("Diagnostic script failed."), u"Diagnostic script failed."_qs);
    QVERIFY(
        vt_installTranslations(*QCoreApplication::instance(), QLocale(QLocale::German, QLocale::Germany)));
    QCOMPARE(vt_localized("Diagnostic script failed."), u"Das Diagnoseskript ist fehlgeschlagen."_qs);
    QCOMPARE(vt_localized("A text nobody translated"), u"A text nobody translated"_qs);
}

namespace {

// The C string literals of a QT_TRANSLATE_NOOP("Localizable", ...) mark, adjacent pieces joined.
QString literalText(const QString& pieces) {
    static const QRegularExpression piece(QStringLiteral(R"re("((?:[^"\\]|\\.)*)")re"));
    QString text;
    for (const QRegularExpressionMatch& m : piece.globalMatch(pieces)) {
        QString raw = m.captured(1);
        raw.replace(QLatin1String("\\n"), QLatin1String("\n"));
        raw.replace(QLatin1String("\\\""), QLatin1String("\""));
        raw.replace(QLatin1String("\\\\"), QLatin1String("\\"));
        text += raw;
    }
    return text;
}

QStringList markedTexts() {
    static const QRegularExpression mark(
        QStringLiteral(R"re(QT_TRANSLATE_NOOP\(\s*"Localizable"\s*,((?:\s*"(?:[^"\\]|\\.)*")+)\s*\))re"));
    QStringList texts;
    for (const char* folder : {"Shared", "KeyloftTroubleshooting"}) {
        QDirIterator it(QStringLiteral(KEYLOFT_SOURCE_DIR "/") + QLatin1String(folder),
                        {u"*.cpp"_qs, u"*.h"_qs}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QString source = QString::fromUtf8(file.readAll());
            for (const QRegularExpressionMatch& m : mark.globalMatch(source))
                texts << literalText(m.captured(1));
        }
    }
    texts.removeDuplicates();
    return texts;
}

} // namespace

void TestLocalization::everyMarkedTextHasAGermanTranslation() {
    QTranslator german;
    QVERIFY(german.load(QLocale(QLocale::German), u"keyloft"_qs, u"_"_qs, u":/i18n"_qs));
    const QStringList texts = markedTexts();
    // The size formats, the script failure, the missing interpreter and the repairs at the least.
    QVERIFY2(texts.size() >= 15, qPrintable(texts.join(u'|')));
    QStringList missing;
    for (const QString& text : texts) {
        if (german.translate("Localizable", text.toUtf8().constData()).isEmpty())
            missing << text;
    }
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(u'|')));
}

QTEST_GUILESS_MAIN(TestLocalization)
#include "tst_localization.moc"
