#pragma once

// The path escaping written as plainly as it is described: for each shell-special character in
// turn, scan for it and put a backslash in front of each occurrence that has none, continuing just
// after the occurrence; then turn colons into underscores. The tests and the fuzzer compare the
// library's escaping against it.

#include <QString>

namespace literal {

inline QString escapePath(const QString& s) {
    QString w = s;
    for (const QChar c : QStringLiteral("'\" ()$&;`{}<>")) {
        if (w.isEmpty())
            continue;
        for (qsizetype i = w.indexOf(c); i >= 0 && i < w.size(); i = w.indexOf(c, i + 1)) {
            if (!(i > 0 && w[i - 1] == u'\\'))
                w.replace(i, 1, QStringLiteral("\\") + c);
        }
    }
    w.replace(u':', u'_');
    return w;
}

} // namespace literal
