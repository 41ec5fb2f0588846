// The translations: English as the fallback, German with Qt's own, and German for every text of the code.

#include "Platform/Localization.h"

#include <QtTest>

namespace {

const char* const kLeaveOutQuestion =
    "Leave these files out of the report?\n\n%@\n\nThe report is written again without them, and its summary "
    "and manifest.json say that you left them out. This cannot be undone.";

struct Message {
    QString context, source;
    bool numerus = false;
    friend bool operator==(const Message&, const Message&) = default;
};

QList<Message> messagesOf(const QString& tsFile) {
    QFile file(tsFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<Message> messages;
    QString context;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"name")
            context = xml.readElementText();
        else if (xml.name() == u"message")
            messages.append({context, {}, xml.attributes().value(u"numerus"_qs) == u"yes"});
        else if (xml.name() == u"source" && !messages.isEmpty())
            messages.last().source = xml.readElementText();
    }
    return messages;
}

// Every text marked for translation in the sources and interface files, as Qt's lupdate collects them.
QList<Message> textsInTheCode() {
    QTemporaryDir out;
    QProcess lupdate;
    lupdate.setWorkingDirectory(QStringLiteral(KEYLOFT_SOURCE_DIR));
    lupdate.start(QStringLiteral(KEYLOFT_LUPDATE),
                  {u"-silent"_qs, u"-locations"_qs, u"none"_qs, u"Shared"_qs, u"KeyloftTroubleshooting"_qs,
                   u"-ts"_qs, out.filePath(u"texts.ts"_qs)});
    if (!lupdate.waitForFinished(60000) || lupdate.exitCode() != 0)
        return {};
    return messagesOf(out.filePath(u"texts.ts"_qs));
}

// The printf conversions (and Qt's %n) of a text, in order: a translation must fill in the same values.
QStringList conversions(const QString& text) {
    static const QRegularExpression conversion(QStringLiteral(
        "%(\\d+\\$)?[-+ #0']*(\\d+|\\*)?(\\.(\\d+|\\*))?(hh|h|ll|l|q|j|z|t|L)?[@diuoxXcsfFeEgGaApn%]"));
    QStringList found;
    for (const QRegularExpressionMatch& match : conversion.globalMatch(text))
        found << match.captured();
    return found;
}

// The keyboard mnemonic of a menu or button text ("&File"); "&&" is a plain ampersand.
bool hasMnemonic(const QString& text) {
    static const QRegularExpression mnemonic(QStringLiteral("(^|[^&])&[^&\\s]"));
    return text.contains(mnemonic);
}

} // namespace

class TestLocalization : public QObject {
    Q_OBJECT
private slots:
    // In this order: an installation that fits no translation leaves everything English, Qt's buttons
    // included; German brings Qt's German, and a text whose grammar follows a count gets its form.
    void englishIsTheFallbackAndGermanComesWithQtsOwn() {
        QCoreApplication& app = *QCoreApplication::instance();
        QVERIFY(!vt_installTranslations(app, QLocale(QLocale::French)));
        QCOMPARE(vt_localized("Diagnostic script failed."), u"Diagnostic script failed."_qs);
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), u"Cancel"_qs);

        QVERIFY(vt_installTranslations(app, QLocale(QLocale::German, QLocale::Austria)));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), u"Abbrechen"_qs);
        QVERIFY(vt_localized(kLeaveOutQuestion, 1).startsWith(u"Diese Datei "_qs));
        QVERIFY(vt_localized(kLeaveOutQuestion, 3).startsWith(u"Diese Dateien "_qs));
    }

    // In every plural form, with the same values filled in and a mnemonic where the English has one.
    void everyTextHasItsGermanTranslation() {
        const QList<Message> texts = textsInTheCode();
        // The window's texts, the alerts, the size formats and the repairs at the least.
        QVERIFY2(texts.size() >= 60, "lupdate found too few texts");
        QTranslator german;
        QVERIFY(german.load(u":/i18n/keyloft_de.qm"_qs));
        QStringList problems;
        for (const Message& text : texts) {
            for (const int count : text.numerus ? QList<int>{1, 2} : QList<int>{-1}) {
                const QString translation =
                    german.translate(text.context.toUtf8(), text.source.toUtf8(), nullptr, count);
                if (translation.isEmpty())
                    problems << u"untranslated: "_qs + text.source;
                else if (conversions(translation) != conversions(text.source))
                    problems << u"other values: "_qs + translation;
                else if (hasMnemonic(text.source) && !hasMnemonic(translation))
                    problems << u"no mnemonic: "_qs + translation;
            }
        }
        for (const Message& translated :
             messagesOf(QStringLiteral(KEYLOFT_SOURCE_DIR "/Shared/translations/keyloft_de.ts")))
            if (!texts.contains(translated))
                problems << u"no longer in the code: "_qs + translated.source;
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }
};

QTEST_GUILESS_MAIN(TestLocalization)
#include "tst_localization.moc"
