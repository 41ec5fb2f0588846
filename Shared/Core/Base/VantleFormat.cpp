#include "VantleFormat.h"

#include "CLocaleScope.h"

#include <array>
#include <cstdio>

namespace {

const QString kNull = QStringLiteral("(null)");

template <class T> QString printfNumber(const QByteArray& directive, T value) {
    CLocaleScope scope;
    std::array<char, 128> small{};
    const int needed = std::snprintf(small.data(), small.size(), directive.constData(), value);
    if (needed < 0)
        return {};
    if (static_cast<size_t>(needed) < small.size())
        return QString::fromLatin1(small.data(), needed);
    QByteArray large(needed + 1, '\0');
    std::snprintf(large.data(), large.size(), directive.constData(), value);
    return QString::fromLatin1(large.constData(), needed);
}

struct Directive {
    QByteArray flags;
    int width = -1;
    int precision = -1;
    QByteArray length;
    char conversion = 0;
};

// Pads a text conversion to its width with spaces, on the left unless the "-" flag is set.
QString padded(QString text, const Directive& directive) {
    if (directive.precision >= 0 && text.size() > directive.precision)
        text.truncate(directive.precision);
    if (directive.width > text.size()) {
        const QString fill(directive.width - text.size(), QLatin1Char(' '));
        text = directive.flags.contains('-') ? text + fill : fill + text;
    }
    return text;
}

QByteArray printfDirective(const Directive& directive, const char* length, char conversion) {
    QByteArray out = "%" + directive.flags;
    if (directive.width >= 0)
        out += QByteArray::number(directive.width);
    if (directive.precision >= 0)
        out += "." + QByteArray::number(directive.precision);
    out += length;
    out += conversion;
    return out;
}

QString formatSigned(const Directive& directive, const VTFormatArg& arg) {
    const int64_t v = arg.asSigned();
    const QByteArray& len = directive.length;
    if (len == "hh")
        return printfNumber(printfDirective(directive, "", 'd'),
                            static_cast<int>(static_cast<signed char>(v)));
    if (len == "h")
        return printfNumber(printfDirective(directive, "", 'd'), static_cast<int>(static_cast<short>(v)));
    if (len.isEmpty())
        return printfNumber(printfDirective(directive, "", 'd'), static_cast<int>(v));
    return printfNumber(printfDirective(directive, "ll", 'd'), static_cast<long long>(v));
}

QString formatUnsigned(const Directive& directive, const VTFormatArg& arg) {
    const uint64_t v = arg.asUnsigned();
    const QByteArray& len = directive.length;
    const char c = directive.conversion;
    if (len == "hh")
        return printfNumber(printfDirective(directive, "", c),
                            static_cast<unsigned>(static_cast<unsigned char>(v)));
    if (len == "h")
        return printfNumber(printfDirective(directive, "", c),
                            static_cast<unsigned>(static_cast<unsigned short>(v)));
    if (len.isEmpty())
        return printfNumber(printfDirective(directive, "", c), static_cast<unsigned>(v));
    return printfNumber(printfDirective(directive, "ll", c), static_cast<unsigned long long>(v));
}

QString formatConversion(const Directive& directive, const VTFormatArg& arg) {
    using Kind = VTFormatArg::Kind;
    switch (directive.conversion) {
    case '@':
    case 's':
        return padded(arg.description(), directive);
    case 'd':
    case 'i':
        if (arg.kind() == Kind::Text)
            return padded(arg.text(), directive);
        return formatSigned(directive, arg);
    case 'u':
    case 'o':
    case 'x':
    case 'X':
        if (arg.kind() == Kind::Text)
            return padded(arg.text(), directive);
        return formatUnsigned(directive, arg);
    case 'c':
        return padded(QString(QChar(static_cast<char16_t>(static_cast<unsigned char>(arg.asUnsigned())))),
                      directive);
    case 'C':
        // A UTF-16 unit, as the system's texts use it for bullets and ellipses.
        return padded(QString(QChar(static_cast<char16_t>(arg.asUnsigned()))), directive);
    case 'p':
        if (arg.kind() == Kind::Absent)
            return padded(QStringLiteral("0x0"), directive);
        return padded(QStringLiteral("0x") + QString::number(arg.asUnsigned(), 16), directive);
    default: // f F e E g G a A
        if (arg.kind() == Kind::Text)
            return padded(arg.text(), directive);
        return printfNumber(printfDirective(directive, "", directive.conversion), arg.asReal());
    }
}

bool isConversion(char c) {
    return QByteArrayView("@diuoxXcCsfFeEgGaAp").contains(c);
}

class Parser {
public:
    Parser(QStringView format, std::span<const VTFormatArg> args) : format_(format), args_(args) {}

    QString run() {
        QString out;
        out.reserve(format_.size() + 16 * static_cast<qsizetype>(args_.size()));
        while (pos_ < format_.size()) {
            const qsizetype percent = format_.indexOf(QLatin1Char('%'), pos_);
            if (percent < 0) {
                out += format_.mid(pos_);
                break;
            }
            out += format_.mid(pos_, percent - pos_);
            pos_ = percent + 1;
            out += parseDirective(percent);
        }
        return out;
    }

private:
    [[nodiscard]] char peek() const {
        if (pos_ >= format_.size())
            return 0;
        const char16_t u = format_[pos_].unicode();
        return u < 0x80 ? static_cast<char>(u) : '\x7f';
    }

    // Digits at the current position; -1 when there are none.
    int number() {
        if (peek() < '0' || peek() > '9')
            return -1;
        int n = 0;
        while (peek() >= '0' && peek() <= '9') {
            n = std::min(n * 10 + (peek() - '0'), 1 << 20);
            ++pos_;
        }
        return n;
    }

    const VTFormatArg& take(int position) {
        static const VTFormatArg absent;
        const size_t index = position > 0 ? static_cast<size_t>(position - 1) : next_++;
        return index < args_.size() ? args_[index] : absent;
    }

    // An optional "n$" prefix; answers 0 when there is none and leaves the position untouched.
    int positional() {
        const qsizetype start = pos_;
        const int n = number();
        if (n > 0 && peek() == '$') {
            ++pos_;
            return n;
        }
        pos_ = start;
        return 0;
    }

    int starOrNumber(bool allowNegative, Directive& directive) {
        if (peek() != '*')
            return number();
        ++pos_;
        const int64_t v = take(positional()).asSigned();
        if (v < 0 && allowNegative) {
            directive.flags += '-';
            return static_cast<int>(std::min<int64_t>(-v, 1 << 20));
        }
        return v < 0 ? -1 : static_cast<int>(std::min<int64_t>(v, 1 << 20));
    }

    QString parseDirective(qsizetype percent) {
        if (peek() == '%') {
            ++pos_;
            return QStringLiteral("%");
        }
        Directive directive;
        const int position = positional();
        while (QByteArrayView("-0+ #'").contains(peek()) && peek() != 0)
            directive.flags += format_[pos_++].toLatin1();
        directive.width = starOrNumber(true, directive);
        if (peek() == '.') {
            ++pos_;
            Directive ignored;
            directive.precision = std::max(0, starOrNumber(false, ignored));
        }
        while (QByteArrayView("hlqjztL").contains(peek()) && peek() != 0)
            directive.length += format_[pos_++].toLatin1();
        if (directive.length == "q" || directive.length == "j" || directive.length == "z" ||
            directive.length == "t" || directive.length == "l")
            directive.length = "ll";
        if (directive.length == "L")
            directive.length.clear();
        directive.conversion = peek();
        if (!isConversion(directive.conversion)) {
            // Not a conversion we know: keep the text as written.
            return format_.mid(percent, pos_ - percent).toString();
        }
        ++pos_;
        return formatConversion(directive, take(position));
    }

    QStringView format_;
    std::span<const VTFormatArg> args_;
    qsizetype pos_ = 0;
    size_t next_ = 0;
};

} // namespace

VTFormatArg::VTFormatArg(const char* cString) {
    if (cString) {
        kind_ = Kind::Text;
        text_ = QString::fromUtf8(cString);
    }
}

VTFormatArg::VTFormatArg(const QStringList& list) : kind_(Kind::Text) {
    text_ = QStringLiteral("(\n    ") + list.join(QStringLiteral(",\n    ")) + QStringLiteral("\n)");
    if (list.isEmpty())
        text_ = QStringLiteral("(\n)");
}

VTFormatArg::VTFormatArg(const QVariant& value) {
    if (!value.isValid() || value.isNull())
        return;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short:
        *this = VTFormatArg(value.toLongLong());
        break;
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::ULong:
    case QMetaType::UShort:
        *this = VTFormatArg(value.toULongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        *this = VTFormatArg(value.toDouble());
        break;
    case QMetaType::Bool:
        *this = VTFormatArg(value.toBool());
        break;
    case QMetaType::QStringList:
        *this = VTFormatArg(value.toStringList());
        break;
    case QMetaType::QUrl:
        *this = VTFormatArg(value.toUrl());
        break;
    default:
        kind_ = Kind::Text;
        text_ = value.toString();
        break;
    }
}

int64_t VTFormatArg::asSigned() const {
    switch (kind_) {
    case Kind::Signed:
        return signed_;
    case Kind::Unsigned:
    case Kind::Pointer:
        return static_cast<int64_t>(unsigned_);
    case Kind::Real:
        return static_cast<int64_t>(real_);
    default:
        return 0;
    }
}

uint64_t VTFormatArg::asUnsigned() const {
    switch (kind_) {
    case Kind::Signed:
        return static_cast<uint64_t>(signed_);
    case Kind::Unsigned:
    case Kind::Pointer:
        return unsigned_;
    case Kind::Real:
        return static_cast<uint64_t>(static_cast<int64_t>(real_));
    default:
        return 0;
    }
}

double VTFormatArg::asReal() const {
    switch (kind_) {
    case Kind::Signed:
        return static_cast<double>(signed_);
    case Kind::Unsigned:
    case Kind::Pointer:
        return static_cast<double>(unsigned_);
    case Kind::Real:
        return real_;
    default:
        return 0;
    }
}

QString VTFormatArg::description() const {
    switch (kind_) {
    case Kind::Absent:
        return kNull;
    case Kind::Text:
        return text_;
    case Kind::Signed:
        return QString::number(signed_);
    case Kind::Unsigned:
        return QString::number(unsigned_);
    case Kind::Pointer:
        return QStringLiteral("0x") + QString::number(unsigned_, 16);
    case Kind::Real:
        return printfNumber(QByteArrayLiteral("%.15g"), real_);
    }
    return kNull;
}

QString vt_formatArgs(QStringView format, std::span<const VTFormatArg> args) {
    return Parser(format, args).run();
}
