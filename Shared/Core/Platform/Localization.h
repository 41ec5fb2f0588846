#pragma once

// The localization lookup: the English text is the key; without a translation it is the answer.
//
// Every text a person sees goes through Qt's translation, in one of two contexts: the texts of the code
// in "Localizable", marked at their call site so Qt's lupdate can collect them,
//   vt_localized(QT_TRANSLATE_NOOP("Localizable", "Diagnostic script failed."))
//   vt_localized(QT_TRANSLATE_N_NOOP("Localizable", "%llu bytes"), count)   (a text whose grammar
//                                                                            follows a count)
// and the texts of an interface file (.ui) in the form's own context, translated by its retranslateUi.
// Translations are compiled from Shared/translations/*.ts and embedded under ":/i18n"; Qt's own
// translations (standard buttons, standard context menus, key names, the command line's usage) come from
// the system's Qt translations folder.

#include <QCoreApplication>
#include <QLocale>
#include <QString>

inline constexpr const char* kLocalizationContext = "Localizable";

[[nodiscard]] QString vt_localized(const char* englishText);
// The form of the text that fits count (a text marked with QT_TRANSLATE_N_NOOP); a "%n" in it becomes
// the count.
[[nodiscard]] QString vt_localized(const char* englishText, int count);

// Installs the embedded translation that best fits the locale's UI languages into the application, and
// with it Qt's own translation for the same language when the system has one. Answers false (and installs
// nothing) when none of ours fits, so the English texts stay in use throughout, Qt's included.
// The translators live as long as the application object. Call on the main thread, before any window
// is built.
bool vt_installTranslations(QCoreApplication& app, const QLocale& locale = QLocale::system());
