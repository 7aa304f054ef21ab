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

IntegerText ParseIntegerInRange(const QString &text, int lowest, int highest, int *value)
{
    const QString trimmed = text.trimmed();
    qsizetype digitsFrom = trimmed.startsWith(QLatin1Char('-')) || trimmed.startsWith(QLatin1Char('+')) ? 1 : 0;
    if (digitsFrom == trimmed.size())
        return IntegerText::NotInteger;
    for (qsizetype i = digitsFrom; i < trimmed.size(); ++i)
        if (trimmed[i] < QLatin1Char('0') || trimmed[i] > QLatin1Char('9'))
            return IntegerText::NotInteger;
    int parsed = 0;
    // Digits beyond 32 bits are an integer too, and out of any range here.
    if (!ParseWholeInteger(trimmed, &parsed) || parsed < lowest || parsed > highest)
        return IntegerText::OutOfRange;
    *value = parsed;
    return IntegerText::InRange;
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

Message IntegerRangeNotice(int lowest, int highest)
{
    return WarningMessage(QStringLiteral("Введите целое число от %1 до %2.").arg(lowest).arg(highest),
                          QApplication::applicationName());
}
