#pragma once

// Switches the calling thread alone to the "C" locale for the scope, so numbers and POSIX regular
// expressions read and write the same way for every user while the rest of the application keeps the
// user's locale (QCoreApplication sets it from LANG).

#include <clocale>
#include <locale.h>

class CLocaleScope {
public:
    CLocaleScope() : previous_(uselocale(cLocale())) {}
    ~CLocaleScope() { uselocale(previous_); }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    static locale_t cLocale() {
        static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        return c ? c : LC_GLOBAL_LOCALE;
    }
    locale_t previous_;
};
