// calorivista-sim: the simulated instrument for people and scripts.
#include "instrumentsimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

std::atomic_bool g_stop {false}; // set by Ctrl+C; a signal handler can reach nothing else

extern "C" void OnSignal(int)
{
    g_stop = true;
}

void CatchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr); // no SA_RESTART: a blocked write wakes up
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("calorivista-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated temperature instrument: sends frames of \"#\" and eight hexadecimal digits\n"
        "on a pseudo-terminal (printed at start) or on a serial device."));
    parser.addHelpOption();
    const QCommandLineOption rate({QStringLiteral("r"), QStringLiteral("rate")},
                                  QStringLiteral("Frames per second; 0 sends as fast as the device takes them."),
                                  QStringLiteral("fps"), QStringLiteral("10"));
    const QCommandLineOption count({QStringLiteral("n"), QStringLiteral("count")},
                                   QStringLiteral("Stop after this many frames; 0 runs until Ctrl+C."),
                                   QStringLiteral("frames"), QStringLiteral("0"));
    const QCommandLineOption profile({QStringLiteral("p"), QStringLiteral("profile")},
                                     QStringLiteral("constant:V, ramp:FROM:TO:SECONDS, sine:MEAN:AMPLITUDE:SECONDS "
                                                    "or file:PATH (one value per line)."),
                                     QStringLiteral("profile"), QStringLiteral("sine:900:50:120"));
    const QCommandLineOption noise(QStringLiteral("noise"),
                                   QStringLiteral("Chance (0..1) of a noise byte before each frame."),
                                   QStringLiteral("chance"), QStringLiteral("0"));
    const QCommandLineOption broken(QStringLiteral("broken"),
                                    QStringLiteral("Chance (0..1) of a broken frame before each frame."),
                                    QStringLiteral("chance"), QStringLiteral("0"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed of the noise and breakage."),
                                  QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("Write to this serial device instead of a pseudo-terminal."),
                                    QStringLiteral("path"));
    const QCommandLineOption baud(QStringLiteral("baud"), QStringLiteral("Rate of --device in bits per second."),
                                  QStringLiteral("bps"), QStringLiteral("9600"));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("Do not print each frame."));
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Keep a symbolic link at PATH to the current pseudo-terminal, as "
                                                 "/dev/serial/by-id does for an adapter; point the program at it."),
                                  QStringLiteral("path"));
    const QCommandLineOption up(QStringLiteral("up"),
                                QStringLiteral("Hang up after this many seconds of sending, as a pulled adapter; "
                                               "0: never."),
                                QStringLiteral("seconds"), QStringLiteral("0"));
    const QCommandLineOption away(QStringLiteral("away"),
                                  QStringLiteral("Come back on a new pseudo-terminal after this many seconds "
                                                 "(with --up); frames due meanwhile are not sent."),
                                  QStringLiteral("seconds"), QStringLiteral("3"));
    parser.addOptions({rate, count, profile, noise, broken, seed, device, baud, quiet, link, up, away});
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    SimulatorOptions options;
    bool ok = true;
    const auto number = [&](const QCommandLineOption &option) {
        bool parsed = false;
        const double value = parser.value(option).toDouble(&parsed);
        if (!parsed || value < 0) {
            err << "calorivista-sim: --" << option.names().constLast() << " wants a number >= 0\n";
            ok = false;
        }
        return value;
    };
    options.framesPerSecond = number(rate);
    options.frameCount = static_cast<long long>(number(count));
    options.noiseChance = number(noise);
    options.brokenChance = number(broken);
    options.seed = static_cast<unsigned>(number(seed));
    options.upSeconds = number(up);
    options.awaySeconds = number(away);
    if (options.upSeconds > 0 && parser.isSet(device)) {
        err << "calorivista-sim: --up needs a pseudo-terminal, not --device\n";
        ok = false;
    }
    QString error;
    if (!TemperatureProfile::Parse(parser.value(profile), &options.profile, &error)) {
        err << "calorivista-sim: " << error << '\n';
        ok = false;
    }
    if (!ok)
        return 2;

    InstrumentSimulator simulator;
    const bool opened = parser.isSet(device)
        ? simulator.OpenDevice(parser.value(device), static_cast<int>(number(baud)), &error)
        : simulator.OpenPseudoTerminal(&error);
    if (!opened) {
        err << "calorivista-sim: cannot open the line: " << error << '\n';
        return 1;
    }
    if (parser.isSet(link) && !simulator.SetLink(parser.value(link), &error)) {
        err << "calorivista-sim: cannot make the link: " << error << '\n';
        return 1;
    }
    out << "device: " << simulator.DevicePath() << Qt::endl;
    if (parser.isSet(link))
        out << "link: " << parser.value(link) << Qt::endl;

    if (!parser.isSet(quiet)) {
        options.onFrame = [&out](long long frame, const std::string &bytes, double celsius) {
            out << frame << '\t' << QString::fromLatin1(bytes.data(), static_cast<int>(bytes.size())) << '\t'
                << QString::number(celsius, 'f', 1) << Qt::endl;
        };
    }
    CatchStopSignals();
    const SimulatorCounts sent = simulator.Run(options, g_stop);
    out << "sent " << sent.frames << " frames, " << sent.brokenFrames << " broken frames, " << sent.noiseBytes
        << " noise bytes" << Qt::endl;
    if (sent.hangUps > 0)
        out << "hung up and came back " << sent.hangUps << " times" << Qt::endl;
    if (sent.deviceFailed) {
        err << "calorivista-sim: the line failed" << Qt::endl;
        return 1;
    }
    return 0;
}
