#pragma once

// printf-style formatting of the product's texts, with "%@" for a value's text.
//
// Supported: flags (- 0 + space # '), width and precision (also "*" and positional "n$"),
// length modifiers (hh h l ll q j z t L), and the conversions @ d i u o x X c C s f F e E g G a A p %.
// "%@" inserts a value's text and "(null)" for an absent value; "%s" does the same for a C text.
// Numbers are always written as in the "C" locale (a dot, no grouping), whatever the user's locale,
// and floating-point values round exactly as printf does.
// A conversion without a matching argument prints as an absent value; an unknown conversion is
// copied verbatim. Nothing here throws or reads memory it was not given.

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <array>
#include <concepts>
#include <cstdint>
#include <optional>
#include <span>

class VTFormatArg {
public:
    enum class Kind { Absent, Text, Signed, Unsigned, Real, Pointer };

    VTFormatArg() = default;
    VTFormatArg(std::nullptr_t) {}
    VTFormatArg(const QString& text) : kind_(Kind::Text), text_(text) {}
    VTFormatArg(QStringView text) : kind_(Kind::Text), text_(text.toString()) {}
    VTFormatArg(const char* cString);
    VTFormatArg(const QByteArray& utf8) : kind_(Kind::Text), text_(QString::fromUtf8(utf8)) {}
    VTFormatArg(const QUrl& url) : kind_(Kind::Text), text_(url.toString()) {}
    VTFormatArg(const QStringList& list);
    VTFormatArg(const QVariant& value);
    VTFormatArg(QChar c) : kind_(Kind::Unsigned), unsigned_(c.unicode()) {}
    VTFormatArg(bool b) : kind_(Kind::Signed), signed_(b ? 1 : 0) {}
    template <std::signed_integral T> VTFormatArg(T v) : kind_(Kind::Signed), signed_(v) {}
    template <std::unsigned_integral T> VTFormatArg(T v) : kind_(Kind::Unsigned), unsigned_(v) {}
    template <std::floating_point T> VTFormatArg(T v) : kind_(Kind::Real), real_(static_cast<double>(v)) {}
    VTFormatArg(const void* p)
        : kind_(p ? Kind::Pointer : Kind::Absent), unsigned_(reinterpret_cast<uintptr_t>(p)) {}
    template <class T> VTFormatArg(const std::optional<T>& value) {
        if (value)
            *this = VTFormatArg(*value);
    }

    [[nodiscard]] Kind kind() const { return kind_; }
    [[nodiscard]] const QString& text() const { return text_; }
    [[nodiscard]] int64_t asSigned() const;
    [[nodiscard]] uint64_t asUnsigned() const;
    [[nodiscard]] double asReal() const;
    // The text "%@" shows: the text itself, a number in decimal, "(null)" when absent.
    [[nodiscard]] QString description() const;

private:
    Kind kind_ = Kind::Absent;
    QString text_;
    int64_t signed_ = 0;
    uint64_t unsigned_ = 0;
    double real_ = 0;
};

// Formats with arguments already wrapped; the variadic forms below are the usual entry points.
[[nodiscard]] QString vt_formatArgs(QStringView format, std::span<const VTFormatArg> args);

template <class... Args> [[nodiscard]] QString vt_format(const QString& format, const Args&... args) {
    const std::array<VTFormatArg, sizeof...(Args)> wrapped{VTFormatArg(args)...};
    return vt_formatArgs(format, wrapped);
}

template <class... Args> [[nodiscard]] QString vt_format(const char* format, const Args&... args) {
    return vt_format(QString::fromUtf8(format), args...);
}
