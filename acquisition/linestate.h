#pragma once

#include <QString>
#include <QtGlobal>

// What the reader thread knows of its line, shared with the user interface
// under the store's lock. Times are milliseconds of LineClockMs().
struct LineState
{
    bool reading = false;      // a run reads the line (marks are shown only then)
    qint64 runStartMs = 0;     // when the run began reading
    qint64 lastFrameMs = -1;   // when the newest whole frame arrived; -1: none yet in this run
    bool deviceGone = false;   // reads failed: the reader waits for the device to come back
    qint64 nonFrameBytes = 0;  // bytes of this run that belonged to no whole frame

    bool operator==(const LineState &) const = default;
};

// A steady clock for line times: never set back, whatever the wall clock does.
qint64 LineClockMs();

// How the line looks to the operator at a moment.
struct LineStatus
{
    // No whole frame for this long counts as a silent line.
    static constexpr qint64 kSilentAfterMs = 3000;

    enum class Kind { Live, Silent, Gone };
    Kind kind = Kind::Live;
    qint64 silentSeconds = 0; // whole seconds since the last frame (or the run's start)
    qint64 nonFrameBytes = 0;
    bool hasRun = false; // a run has read the line since the program started

    static LineStatus Of(const LineState &state, qint64 nowMs);

    bool IsLive() const { return kind == Kind::Live; }
    // "нет данных N с", "нет связи с прибором", or empty while the line is live.
    QString Mark() const;
    // For a tooltip: the mark (if any) and the run's count of bytes that were
    // no frame; empty before the first run.
    QString Details() const;

    bool operator==(const LineStatus &) const = default;
};
