#pragma once

// An error handed back as a value: where it comes from, its number there, and a text for people.
// Operations that can fail fill one through an out-parameter (which may be null when the caller does
// not care) and answer false; nothing throws.

#include <QString>

struct VTError {
    QString domain;
    int code = 0;
    QString description;
};
