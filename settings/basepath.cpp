#include "basepath.h"

#include <stdexcept>

namespace {

bool IsAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool IsAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
}

// "YYMMDD", a letter and a digit: the name the folder chooser proposes.
bool EndsWithSubfolderName(const QString &path)
{
    const qsizetype n = path.size();
    if (n < 8 || !IsAsciiDigit(path[n - 1]) || !IsAsciiLetter(path[n - 2]))
        return false;
    for (qsizetype i = n - 8; i < n - 2; ++i) {
        if (!IsAsciiDigit(path[i]))
            return false;
    }
    return true;
}

} // namespace

QString BasePath(const QString &path)
{
    if (path.isEmpty())
        throw std::invalid_argument("BasePath of an empty path");
    QString base = path;
    if (base.endsWith(QLatin1Char('\\')) || base.endsWith(QLatin1Char('/')))
        base.chop(1);
    if (base.isEmpty())
        throw std::invalid_argument("BasePath of a lone separator");
    if (EndsWithSubfolderName(base))
        base.chop(8);
    return base;
}
