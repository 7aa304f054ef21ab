// One application object for every benchmark (the dialogs and timers need it),
// headless unless a display is asked for.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>

double g_applicationStartMs = 0; // read by the start-up benchmark

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QElapsedTimer timer;
    timer.start();
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Calorivista"));
    g_applicationStartMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
