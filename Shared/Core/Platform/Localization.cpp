#include "Localization.h"

#include <QLibraryInfo>
#include <QTranslator>

QString vt_localized(const char* englishText) {
    return QCoreApplication::translate(kLocalizationContext, englishText);
}

QString vt_localized(const char* englishText, int count) {
    return QCoreApplication::translate(kLocalizationContext, englishText, nullptr, count);
}

namespace {

// Installs the translator for `name` that fits the locale from folder; null when there is none.
QTranslator* installTranslator(QCoreApplication& app, const QLocale& locale, const QString& name,
                               const QString& folder) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(locale, name, QStringLiteral("_"), folder) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

} // namespace

bool vt_installTranslations(QCoreApplication& app, const QLocale& locale) {
    const QTranslator* ours =
        installTranslator(app, locale, QStringLiteral("keyloft"), QStringLiteral(":/i18n"));
    if (ours == nullptr)
        return false;
    // Qt's texts in the language ours was chosen for (a German user with French as a second choice gets
    // German buttons with German texts, never a mix). Without the system's Qt translations they stay English.
    installTranslator(app, QLocale(ours->language()), QStringLiteral("qtbase"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    return true;
}
