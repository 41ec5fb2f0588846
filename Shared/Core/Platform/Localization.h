#pragma once

// The localization lookup: the English text is the key; without a translation it is the answer.
//
// Mark each text at its call site so Qt's lupdate can collect it:
//   vt_localized(QT_TRANSLATE_NOOP("Localizable", "Diagnostic script failed."))
// Translations are compiled from Shared/translations/*.ts and embedded under ":/i18n".

#include <QCoreApplication>
#include <QLocale>
#include <QString>

inline constexpr const char* kLocalizationContext = "Localizable";

[[nodiscard]] QString vt_localized(const char* englishText);

// Installs the embedded translation that best fits the locale's UI languages into the application.
// Answers false (and installs nothing) when none fits, so the English texts stay in use.
// The translator lives as long as the application object. Call on the main thread.
bool vt_installTranslations(QCoreApplication& app, const QLocale& locale = QLocale::system());
