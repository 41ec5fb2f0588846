// Folding accented Latin-1 letters to their ASCII base letters.

#include "VantleString.h"

#include <array>
#include <utility>

namespace {

// Each accented letter and its base letter, by base letter. Only these change: Å, Æ, Ç, Ð, Ø, Ý,
// Þ, ß and letters with other marks keep their form.
constexpr std::array<std::pair<char16_t, char16_t>, 48> kAccentTable = {{
    {0x00C0, u'A'}, {0x00C1, u'A'}, {0x00C2, u'A'}, {0x00C3, u'A'}, {0x00C4, u'A'}, {0x00E0, u'a'},
    {0x00E1, u'a'}, {0x00E2, u'a'}, {0x00E3, u'a'}, {0x00E4, u'a'}, {0x00C8, u'E'}, {0x00C9, u'E'},
    {0x00CA, u'E'}, {0x00CB, u'E'}, {0x00E8, u'e'}, {0x00E9, u'e'}, {0x00EA, u'e'}, {0x00EB, u'e'},
    {0x00CC, u'I'}, {0x00CD, u'I'}, {0x00CE, u'I'}, {0x00CF, u'I'}, {0x00EC, u'i'}, {0x00ED, u'i'},
    {0x00EE, u'i'}, {0x00EF, u'i'}, {0x00D1, u'N'}, {0x00F1, u'n'}, {0x00D2, u'O'}, {0x00D3, u'O'},
    {0x00D4, u'O'}, {0x00D5, u'O'}, {0x00D6, u'O'}, {0x00F2, u'o'}, {0x00F3, u'o'}, {0x00F4, u'o'},
    {0x00F5, u'o'}, {0x00F6, u'o'}, {0x00D9, u'U'}, {0x00DA, u'U'}, {0x00DB, u'U'}, {0x00DC, u'U'},
    {0x00F9, u'u'}, {0x00FA, u'u'}, {0x00FB, u'u'}, {0x00FC, u'u'}, {0x0178, u'Y'}, {0x00FF, u'y'},
}};

// The table as a direct lookup over U+00C0 to U+00FF, the block that holds all but U+0178.
constexpr char16_t kLatin1Letters = 0x00C0;
constexpr std::array<char16_t, 64> makeLatin1Folding() {
    std::array<char16_t, 64> folding{};
    for (const auto& [accented, base] : kAccentTable) {
        if (accented >= kLatin1Letters && accented < kLatin1Letters + folding.size())
            folding[accented - kLatin1Letters] = base;
    }
    return folding;
}
constexpr std::array<char16_t, 64> kLatin1Folding = makeLatin1Folding();

// The one letter of the table outside that block.
constexpr char16_t kCapitalYWithDiaeresis = 0x0178;
constexpr bool onlyCapitalYOutsideLatin1Block() {
    for (const auto& [accented, base] : kAccentTable) {
        const bool inBlock = accented >= kLatin1Letters && accented < kLatin1Letters + kLatin1Folding.size();
        if (!inBlock && (accented != kCapitalYWithDiaeresis || base != u'Y'))
            return false;
    }
    return true;
}
static_assert(onlyCapitalYOutsideLatin1Block());

char16_t folded(char16_t c) {
    if (c >= kLatin1Letters && c < kLatin1Letters + kLatin1Folding.size()) {
        const char16_t base = kLatin1Folding[c - kLatin1Letters];
        return base ? base : c;
    }
    return c == kCapitalYWithDiaeresis ? u'Y' : c;
}

} // namespace

QString vt_stringByStrippingAccentMarks(const QString& s) {
    QString w = s;
    for (QChar& c : w)
        c = QChar(folded(c.unicode()));
    return w;
}
