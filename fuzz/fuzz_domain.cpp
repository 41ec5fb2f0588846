// libFuzzer entry for the reduction of hosts and addresses: no crash, no sanitizer report, and the
// answers keep their promises for any input (text as UTF-8 and as raw UTF-16, lone surrogates too).

#include "VantleString.h"
#include "VantleTLDs.h"
#include "reference/LiteralTLDWalk.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

void require(bool condition) {
    if (!condition)
        __builtin_trap();
}

void checkBytes(std::string_view host) {
    require(vt_firstTLDEnding(host) == literal::firstTLDEnding(host));
    const std::size_t start = vt_registrableDomainStart(host);
    require(start <= host.size());
    require(start == 0 || host[start - 1] == '.');
}

void checkText(const QString& text) {
    const QString domain = vt_stringByExtractingFullDomain(text);
    require(vt_stringByExtracting2ndTLD(text).size() <= domain.size());
    require(domain.endsWith(vt_stringByExtracting2ndTLD(text)));
    (void)vt_urlAsLoginTitle(text);
    (void)vt_stringByExtractingHostAndPort(text);
    require(vt_validURLString(text).endsWith(text));
    const auto http = vt_stringAsHttpURLString(text);
    const auto valid = vt_stringAsValidURLString(text);
    require(http.has_value() == text.isValidUtf16() && valid.has_value() == text.isValidUtf16());
    if (http)
        require(QByteArray::fromPercentEncoding(http->toLatin1()) == text.toUtf8());
    if (valid)
        require(QByteArray::fromPercentEncoding(valid->toLatin1()) == text.toUtf8());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const auto* bytes = reinterpret_cast<const char*>(data);
    checkBytes(std::string_view(bytes, size));
    checkText(QString::fromUtf8(bytes, static_cast<qsizetype>(size)));
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
    checkText(QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size())));
    return 0;
}
