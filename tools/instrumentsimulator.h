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
    // A pulled and re-plugged adapter: after upSeconds of sending the
    // instrument goes quiet for a moment and hangs up, stays away for
    // awaySeconds and comes back on a new pseudo-terminal (the link follows).
    // Frames due while it is away are never sent. 0: it never hangs up.
    double upSeconds = 0.0;
    double awaySeconds = 1.0;
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
    int hangUps = 0;
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

    // Keeps a symbolic link at `path` that points at the current
    // pseudo-terminal while there is one, as /dev/serial/by-id does for a
    // plugged adapter. False when it cannot be made.
    bool SetLink(const QString &path, QString *error);
    // Hangs up (the link goes) and comes back on a new pseudo-terminal (the
    // link points at it).
    void HangUp();
    bool ComeBack(QString *error);

    // Sends frames until the count is reached, the stop flag is set or the
    // device fails.
    SimulatorCounts Run(const SimulatorOptions &options, const std::atomic_bool &stop);

    // Sends bytes as they are (split or broken frames, in tests). False when
    // the device failed or the stop flag was set before all were sent.
    bool Write(std::string_view bytes, const std::atomic_bool &stop);
    bool Write(std::string_view bytes);
    // The same, telling how many bytes went out before it ended.
    size_t WriteCounted(std::string_view bytes, const std::atomic_bool &stop);

    // Closes the instrument's end: a pseudo-terminal is hung up.
    void Close();

    // "#", four hexadecimal digits of the temperature in tenths of a kelvin
    // counted from -273.2 °C (clamped to 0..FFFF), four of `tail`.
    static std::string EncodeFrame(double celsius, unsigned tail = 0);

private:
    bool UpdateLink(QString *error);

    int m_fd = -1; // the end the simulator writes
    QString m_strDevicePath;
    QString m_strLink;
};
