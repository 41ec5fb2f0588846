#include "Platform/Localization.h"

#include <QtTest>

class TestLocalization : public QObject {
    Q_OBJECT
private slots:
    void englishIsTheKeyAndTheFallback();
    void anEmbeddedTranslationIsUsedForItsLanguage();
};

void TestLocalization::englishIsTheKeyAndTheFallback() {
    QVERIFY(!vt_installTranslations(*QCoreApplication::instance(), QLocale(QLocale::French)));
    QCOMPARE(vt_localized("Diagnostic script failed."), u"Diagnostic script failed."_qs);
    QCOMPARE(vt_localized("A text nobody translated"), u"A text nobody translated"_qs);
}

void TestLocalization::anEmbeddedTranslationIsUsedForItsLanguage() {
    QVERIFY(
        vt_installTranslations(*QCoreApplication::instance(), QLocale(QLocale::German, QLocale::Germany)));
    QCOMPARE(vt_localized("Diagnostic script failed."), u"Das Diagnoseskript ist fehlgeschlagen."_qs);
    QCOMPARE(vt_localized("A text nobody translated"), u"A text nobody translated"_qs);
}

QTEST_GUILESS_MAIN(TestLocalization)
#include "tst_localization.moc"
