#pragma once

#include <QString>

// The base-path rule: drops one trailing separator ('\' or '/') and then a
// trailing generated subfolder name (six digits, a letter, a digit), keeping
// the separator before it. The path must not be empty (std::invalid_argument);
// nor may it be a lone separator.
QString BasePath(const QString &path);
