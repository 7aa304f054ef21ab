#include "temperatureprofile.h"

#include <QFile>

#include <cmath>
#include <numbers>

TemperatureProfile TemperatureProfile::Constant(double value)
{
    TemperatureProfile p;
    p.m_kind = Kind::Constant;
    p.m_a = value;
    return p;
}

TemperatureProfile TemperatureProfile::Ramp(double from, double to, double periodSeconds)
{
    TemperatureProfile p;
    p.m_kind = Kind::Ramp;
    p.m_a = from;
    p.m_b = to;
    p.m_period = periodSeconds;
    return p;
}

TemperatureProfile TemperatureProfile::Sine(double mean, double amplitude, double periodSeconds)
{
    TemperatureProfile p;
    p.m_kind = Kind::Sine;
    p.m_a = mean;
    p.m_b = amplitude;
    p.m_period = periodSeconds;
    return p;
}

TemperatureProfile TemperatureProfile::Values(std::vector<double> values)
{
    TemperatureProfile p;
    p.m_kind = Kind::Values;
    p.m_values = std::move(values);
    return p;
}

namespace {

bool ParseNumbers(const QStringList &fields, int count, std::vector<double> *numbers)
{
    if (fields.size() != count + 1)
        return false;
    for (int i = 1; i <= count; ++i) {
        bool ok = false;
        numbers->push_back(fields[i].toDouble(&ok));
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

bool TemperatureProfile::Parse(const QString &text, TemperatureProfile *profile, QString *error)
{
    const QStringList fields = text.split(QLatin1Char(':'));
    const QString kind = fields.value(0).toLower();
    std::vector<double> n;
    if (kind == QLatin1String("constant") && ParseNumbers(fields, 1, &n)) {
        *profile = Constant(n[0]);
        return true;
    }
    if ((kind == QLatin1String("ramp") || kind == QLatin1String("sine")) && ParseNumbers(fields, 3, &n)) {
        if (n[2] <= 0) {
            *error = QStringLiteral("the period must be positive");
            return false;
        }
        *profile = kind == QLatin1String("ramp") ? Ramp(n[0], n[1], n[2]) : Sine(n[0], n[1], n[2]);
        return true;
    }
    if (kind == QLatin1String("file") && fields.size() >= 2) {
        const QString path = text.section(QLatin1Char(':'), 1);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            return false;
        }
        std::vector<double> values;
        int lineNumber = 0;
        while (!file.atEnd()) {
            ++lineNumber;
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.isEmpty())
                continue;
            bool ok = false;
            values.push_back(line.toDouble(&ok));
            if (!ok) {
                *error = QStringLiteral("%1 line %2 is not a number").arg(path).arg(lineNumber);
                return false;
            }
        }
        if (values.empty()) {
            *error = QStringLiteral("%1 holds no values").arg(path);
            return false;
        }
        *profile = Values(std::move(values));
        return true;
    }
    *error = QStringLiteral("unknown profile \"%1\"").arg(text);
    return false;
}

double TemperatureProfile::At(long long frame, double seconds) const
{
    switch (m_kind) {
    case Kind::Constant:
        return m_a;
    case Kind::Ramp:
        return m_a + (m_b - m_a) * (std::fmod(seconds, m_period) / m_period);
    case Kind::Sine:
        return m_a + m_b * std::sin(2.0 * std::numbers::pi * seconds / m_period);
    case Kind::Values:
        return m_values[static_cast<size_t>(frame % static_cast<long long>(m_values.size()))];
    }
    return m_a;
}
