#include "VantleData.h"

#include "VantleString.h"

std::optional<QString> vt_asString(const QByteArray& data) {
    return vt_utf8stringWithData(data);
}
