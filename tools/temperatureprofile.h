#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// The temperature the simulated instrument reports over time.
class TemperatureProfile
{
public:
    enum class Kind { Constant, Ramp, Sine, Values };

    // value °C all the time.
    static TemperatureProfile Constant(double value);
    // From `from` to `to` over periodSeconds, then again from `from`.
    static TemperatureProfile Ramp(double from, double to, double periodSeconds);
    // mean ± amplitude, one full wave per periodSeconds.
    static TemperatureProfile Sine(double mean, double amplitude, double periodSeconds);
    // The listed values one frame each, over and over.
    static TemperatureProfile Values(std::vector<double> values);

    // Parses "constant:V", "ramp:FROM:TO:PERIOD", "sine:MEAN:AMPLITUDE:PERIOD"
    // or "file:PATH" (one value per line). On failure returns false and says why.
    static bool Parse(const QString &text, TemperatureProfile *profile, QString *error);

    // The temperature of frame number `frame`, sent `seconds` after the first.
    double At(long long frame, double seconds) const;

    Kind kind() const { return m_kind; }

private:
    Kind m_kind = Kind::Constant;
    double m_a = 20.0;
    double m_b = 0.0;
    double m_period = 1.0;
    std::vector<double> m_values;
};
