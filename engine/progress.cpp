#include "engine/progress.h"

namespace corvalen {

Progress::Progress(Callback callback, int intervalMs)
    : m_callback(std::move(callback)), m_intervalMs(intervalMs)
{
}

void Progress::report(Phase phase, qint64 done, qint64 total)
{
    if (!m_callback)
        return;
    const bool phaseChanged = int(phase) != m_lastPhase;
    if (!phaseChanged && done < total && m_timer.isValid() && m_timer.elapsed() < m_intervalMs)
        return;
    m_lastPhase = int(phase);
    m_timer.start();
    m_callback(phase, done, total);
}

} // namespace corvalen
