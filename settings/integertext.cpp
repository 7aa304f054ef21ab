#include "integertext.h"

#include <QApplication>

#include <limits>

bool ParseWholeInteger(const QString &text, int *value)
{
    bool ok = false;
    const int parsed = text.trimmed().toInt(&ok, 10);
    if (ok)
        *value = parsed;
    return ok;
}

int LeadingInteger(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        negative = text[i++] == QLatin1Char('-');
    qint64 value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > qint64(std::numeric_limits<int>::max()) + 1)
            break;
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

Message IntegerNotice()
{
    return WarningMessage(QStringLiteral("Введите целое число."), QApplication::applicationName());
}
