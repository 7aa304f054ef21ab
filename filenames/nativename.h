#pragma once

#include <QByteArray>
#include <QString>

// File-system names as the system gives them. On Linux a name is a string of
// bytes, and an old folder may have one that is not UTF-8 (made under KOI8-R
// or CP1251, say). Qt's own conversion turns such bytes into U+FFFD and then
// names another file, or skips the folder in its listings. Here each byte
// that is not part of a valid UTF-8 sequence stands as one character from
// U+DC80 to U+DCFF (a lone surrogate, which no valid name decodes to) and goes
// back to that byte, so that every existing name survives the round trip.
// Valid UTF-8 converts exactly as Qt converts it. On Windows names are UTF-16
// and Qt keeps them whole; there the bytes are the name's UTF-8.
QString FromNativeName(const QByteArray &name);
QByteArray ToNativeName(const QString &name);

// Whether Qt's own file calls can take the name: it holds no stand-in bytes.
bool QtCanName(const QString &name);
