#pragma once

// The product's operations on byte data.

#include <QByteArray>
#include <QString>

#include <optional>

// The bytes decoded as vt_utf8stringWithData does.
[[nodiscard]] std::optional<QString> vt_asString(const QByteArray& data);
