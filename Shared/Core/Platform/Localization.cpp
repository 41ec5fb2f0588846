#include "Localization.h"

#include <QTranslator>

QString vt_localized(const char* englishText) {
    return QCoreApplication::translate(kLocalizationContext, englishText);
}

bool vt_installTranslations(QCoreApplication& app, const QLocale& locale) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(locale, QStringLiteral("keyloft"), QStringLiteral("_"), QStringLiteral(":/i18n"))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
