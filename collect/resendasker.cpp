#include "resendasker.h"

#include <chrono>

namespace {

qint64 SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

ResendAsker::ResendAsker(std::function<std::optional<Request>(const QString &)> next, QObject *parent)
    : QObject(parent)
    , m_next(std::move(next))
{
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &ResendAsker::Check);
    m_timer.start();
}

void ResendAsker::Wake(const QString &station, bool now)
{
    Station &state = m_stations[station];
    if (now) {
        state.notBeforeMs = 0;
        state.waitMs = kAnswerWaitMs;
        if (state.asked)
            state.askedAtMs = SteadyMs() - kAnswerWaitMs; // asked again at the next look
    }
    if (!state.asked && SteadyMs() >= state.notBeforeMs)
        AskNow(station, state);
}

void ResendAsker::AskNow(const QString &station, Station &state)
{
    if (!m_bConnected)
        return;
    const std::optional<Request> request = m_next(station);
    if (!request)
        return;
    state.asked = request;
    state.askedAtMs = SteadyMs();
    emit Ask(station, *request);
}

void ResendAsker::Answered(const QString &station, const Request &request, bool broughtSomething)
{
    Station &state = m_stations[station];
    if (state.asked && *state.asked != request)
        return; // an answer to another collector's question, or to one given up on
    state.asked.reset();
    if (broughtSomething) {
        state.waitMs = kAnswerWaitMs;
        state.notBeforeMs = 0;
    } else {
        // The same asked again would bring nothing sooner.
        state.notBeforeMs = SteadyMs() + state.waitMs;
        state.waitMs = std::min(kLongestWaitMs, state.waitMs * 2);
    }
    state.previous = request;
    if (SteadyMs() >= state.notBeforeMs)
        AskNow(station, state);
}

void ResendAsker::SetConnected(bool connected)
{
    m_bConnected = connected;
    if (!connected)
        return;
    for (auto &[station, state] : m_stations) {
        state.asked.reset(); // what was asked over the old connection may never have left
        AskNow(station, state);
    }
}

void ResendAsker::Check()
{
    const qint64 now = SteadyMs();
    for (auto &[station, state] : m_stations) {
        if (state.asked && now - state.askedAtMs >= state.waitMs) {
            // No answer: asked again, and the next time waited for longer.
            state.asked.reset();
            state.waitMs = std::min(kLongestWaitMs, state.waitMs * 2);
            AskNow(station, state);
        } else if (!state.asked && state.notBeforeMs != 0 && now >= state.notBeforeMs) {
            state.notBeforeMs = 0;
            AskNow(station, state);
        }
    }
}
