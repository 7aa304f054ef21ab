#pragma once

#include "temperatureprofile.h"

#include <QString>

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

// What one run of the simulator sends.
struct SimulatorOptions
{
    double framesPerSecond = 10.0; // 0: as fast as the device takes them
    long long frameCount = 0;      // 0: until stopped
    TemperatureProfile profile = TemperatureProfile::Constant(20.0);
    double noiseChance = 0.0;  // chance of a noise byte before a frame
    double brokenChance = 0.0; // chance of a broken frame before a frame
    unsigned seed = 1;
    // Called with each whole frame just before it is sent.
    std::function<void(long long frame, const std::string &bytes, double celsius)> onFrame;
};

// What a run sent: whole frames (each one reading for a listener), broken
// frames and noise bytes (none of which is a reading).
struct SimulatorCounts
{
    long long frames = 0;
    long long brokenFrames = 0;
    long long noiseBytes = 0;
    bool deviceFailed = false; // the other end went away, or a write failed
};

// The instrument: sends frames of "#" and eight hexadecimal digits on a
// pseudo-terminal (or on a serial device, for a hardware loopback). The
// program's reader connects to DevicePath().
class InstrumentSimulator
{
public:
    InstrumentSimulator() = default;
    ~InstrumentSimulator();

    InstrumentSimulator(const InstrumentSimulator &) = delete;
    InstrumentSimulator &operator=(const InstrumentSimulator &) = delete;

    bool OpenPseudoTerminal(QString *error);
    bool OpenDevice(const QString &path, int baudRate, QString *error);
    QString DevicePath() const { return m_strDevicePath; }

    // Sends frames until the count is reached, the stop flag is set or the
    // device fails.
    SimulatorCounts Run(const SimulatorOptions &options, const std::atomic_bool &stop);

    // Sends bytes as they are (split or broken frames, in tests). False when
    // the device failed or the stop flag was set before all were sent.
    bool Write(std::string_view bytes, const std::atomic_bool &stop);
    bool Write(std::string_view bytes);

    // Closes the instrument's end: a pseudo-terminal is hung up.
    void Close();

    // "#", four hexadecimal digits of the temperature in tenths of a kelvin
    // counted from -273.2 °C (clamped to 0..FFFF), four of `tail`.
    static std::string EncodeFrame(double celsius, unsigned tail = 0);

private:
    int m_fd = -1; // the end the simulator writes
    QString m_strDevicePath;
};
