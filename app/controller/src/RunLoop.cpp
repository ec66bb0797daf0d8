// The run loop's task: a turn, then a pause, until the task is cancelled.

#include "quorvane/async/Sleep.hpp"
#include "quorvane/controller/Controller.hpp"
#include "quorvane/controller/RunLoopTiming.hpp"

namespace quorvane {

Task<void> Controller::runLoop()
{
    for (;;) {
        co_await throwIfCancelled();
        co_await cycle();
        co_await sleepFor(services_.scheduler, run_loop_timing::turnPause);
    }
}

Task<void> Controller::cycle()
{
    if (busy || !observing || !storageHealthy_)
        co_return;
    busy = true;
    endTurn();
}

void Controller::endTurn()
{
    busy = false;
    publish(false);
}

}  // namespace quorvane
