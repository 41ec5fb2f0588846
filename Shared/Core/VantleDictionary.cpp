#include "VantleDictionary.h"

#include <QVariantList>

namespace {

QVariantList removeNullMarkers(const QVariantList& list);

QVariant cleaned(const QVariant& value) {
    if (value.typeId() == QMetaType::QVariantMap)
        return vt_removeNSNullValues(value.toMap());
    if (value.typeId() == QMetaType::QVariantList)
        return removeNullMarkers(value.toList());
    return value;
}

QVariantList removeNullMarkers(const QVariantList& list) {
    QVariantList result;
    result.reserve(list.size());
    for (const QVariant& item : list) {
        if (!vt_isNullMarker(item))
            result.append(cleaned(item));
    }
    return result;
}

} // namespace

bool vt_isNullMarker(const QVariant& value) {
    return value.typeId() == QMetaType::Nullptr;
}

QVariantMap vt_removeNSNullValues(const QVariantMap& dictionary) {
    QVariantMap result;
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it) {
        if (!vt_isNullMarker(it.value()))
            result.insert(it.key(), cleaned(it.value()));
    }
    return result;
}

void vt_setObject(QVariantMap& dictionary, const QVariant& value, const std::optional<QString>& key) {
    if (!key)
        return;
    if (!value.isValid())
        dictionary.remove(*key);
    else
        dictionary.insert(*key, value);
}
