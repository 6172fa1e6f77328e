#pragma once

#include <QString>

// Value of an environment variable, or an empty string when it is unset.
// An exact match wins; otherwise the names are compared without regard to
// case, as Windows does, so "appdata" also finds APPDATA.
QString environmentValue(const QString &name);
