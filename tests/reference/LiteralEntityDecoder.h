#pragma once

// A deliberately plain, step-by-step form of the HTML reference decoder: every Latin-1 name replaced
// everywhere in turn, then the numeric pass that rescans the mutated text from the inserted
// character. Slow (quadratic) but obviously faithful; the tests and the fuzzer compare the library's
// single-pass decoder against it.

#include "VantleString.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdint>

namespace literal {

inline const QStringList& latin1EntityNames() {
    static const QStringList names =
        QStringLiteral("nbsp iexcl cent pound curren yen brvbar sect uml copy ordf laquo not shy reg macr "
                       "deg plusmn sup2 sup3 acute micro para middot cedil sup1 ordm raquo frac14 frac12 "
                       "frac34 iquest Agrave Aacute Acirc Atilde Auml Aring AElig Ccedil Egrave Eacute "
                       "Ecirc Euml Igrave Iacute Icirc Iuml ETH Ntilde Ograve Oacute Ocirc Otilde Ouml "
                       "times Oslash Ugrave Uacute Ucirc Uuml Yacute THORN szlig agrave aacute acirc "
                       "atilde auml aring aelig ccedil egrave eacute ecirc euml igrave iacute icirc iuml "
                       "eth ntilde ograve oacute ocirc otilde ouml divide oslash ugrave uacute ucirc uuml "
                       "yacute thorn yuml")
            .split(u' ');
    return names;
}

inline int64_t scanDecimal(const QString& body) {
    qsizetype i = 0;
    while (i < body.size() && body[i].isSpace())
        ++i;
    int64_t sign = 1;
    if (i < body.size() && (body[i] == u'+' || body[i] == u'-'))
        sign = body[i++] == u'-' ? -1 : 1;
    int64_t value = 0;
    while (i < body.size() && body[i].isDigit() && body[i].unicode() < 0x80) {
        value = value * 10 + (body[i++].unicode() - u'0');
        value = std::min<int64_t>(value, int64_t{1} << 40);
    }
    return std::clamp<int64_t>(sign * value, INT32_MIN, INT32_MAX);
}

inline int64_t scanHexadecimal(const QString& body) {
    qsizetype i = 0;
    while (i < body.size() && body[i].isSpace())
        ++i;
    if (body.mid(i, 2).compare(QStringLiteral("0x"), Qt::CaseInsensitive) == 0)
        i += 2;
    int64_t value = 0;
    for (; i < body.size(); ++i) {
        const int digit = QStringLiteral("0123456789abcdef").indexOf(body[i].toLower());
        if (digit < 0 || body[i].unicode() >= 0x80)
            break;
        value = std::min<int64_t>(value * 16 + digit, UINT32_MAX);
    }
    return value;
}

inline QString decodeEntities(const QString& s) {
    if (!s.contains(u'&'))
        return s;
    QString w = s;
    const QStringList& names = latin1EntityNames();
    for (qsizetype i = 0; i < names.size(); ++i)
        w.replace(u'&' + names[i] + u';', QChar(static_cast<char16_t>(0xA0 + i)));
    qsizetype pos = 0;
    while (pos < w.size()) {
        const qsizetype a = w.indexOf(QStringLiteral("&#"), pos);
        const qsizetype b = w.indexOf(u';', pos);
        if (a < 0 || b < 0 || b < a) {
            ++pos;
            continue;
        }
        const QString body = w.mid(a + 2, b - a - 1);
        w.remove(a, b - a + 1);
        const int64_t value = body.startsWith(u'x') ? scanHexadecimal(body.mid(1)) : scanDecimal(body);
        w.insert(a, vt_textForCharacterReference(value));
        pos = a;
    }
    return w;
}

} // namespace literal
