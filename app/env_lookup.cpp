#include "app/env_lookup.h"

#include <QProcessEnvironment>

QString environmentValue(const QString &name)
{
    if (name.isEmpty())
        return QString();
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (env.contains(name))
        return env.value(name);
    const QStringList keys = env.keys();
    for (const QString &key : keys) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return env.value(key);
    }
    return QString();
}
