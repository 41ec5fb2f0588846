#pragma once

// The product's operations on dictionaries (QVariantMap). The null marker inside a collection is
// QVariant::fromValue(nullptr); an invalid QVariant is an absent value.

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// True for the null marker that stands for a missing value inside a collection.
[[nodiscard]] bool vt_isNullMarker(const QVariant& value);

// A copy without null markers, at every depth of nested dictionaries and lists. Never fails.
[[nodiscard]] QVariantMap vt_removeNSNullValues(const QVariantMap& dictionary);

// Stores value under key; an absent (invalid) value removes the key; an absent key does nothing.
void vt_setObject(QVariantMap& dictionary, const QVariant& value, const std::optional<QString>& key);
