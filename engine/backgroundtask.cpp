#include "engine/backgroundtask.h"

#include <QThread>

#include <algorithm>

namespace corvalen {

TaskPool &backgroundPool()
{
    // Works that wait for nothing but their own threads: as many at once as there are cores.
    static TaskPool pool(std::max(2, QThread::idealThreadCount()));
    return pool;
}

} // namespace corvalen
