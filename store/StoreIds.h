#pragma once

#include <QString>
#include <QUuid>

// A fresh id for a stored row: a random UUID in upper-case canonical form.
inline QString newID() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}
