// The run loop's task and the frame of every turn: who may start a turn, and how every turn
// ends, whatever ended it.

#include <glib.h>

#include "RunLoopSupport.hpp"
#include "Sentences.hpp"
#include "quorvane/async/Sleep.hpp"
#include "quorvane/controller/RunLoopTiming.hpp"

namespace quorvane {

Task<void> Controller::runLoop()
{
    for (;;) {
        co_await throwIfCancelled();
        co_await guardedCycle();
        co_await sleepFor(services_.scheduler, run_loop_timing::turnPause);
    }
}

// A turn that nothing can make throw, except cancellation: the loop (and a page-change turn)
// outlives whatever went wrong in one turn.
Task<void> Controller::guardedCycle()
{
    try {
        co_await cycle();
    } catch (const TaskCancelled&) {
        throw;
    } catch (const std::exception& error) {
        noteUnexpected(error.what());
    } catch (...) {
        noteUnexpected("an exception of an unknown type");
    }
}

Task<void> Controller::cycle()
{
    if (busy || !observing || !storageHealthy_)
        co_return;
    busy = true;
    std::exception_ptr cancelled;
    try {
        co_await turn();
    } catch (const TurnEnded&) {
        // A step ended the turn early; its reason is already in the state.
    } catch (const TaskCancelled&) {
        cancelled = std::current_exception();
    } catch (const std::exception& error) {
        // Something no step expects (a bug, or a refusal where none was thought possible) ends
        // the turn like any other end; the next turn runs as usual.
        noteUnexpected(error.what());
    } catch (...) {
        noteUnexpected("an exception of an unknown type");
    }
    endTurn();
    if (cancelled)
        std::rethrow_exception(cancelled);
}

void Controller::endTurn()
{
    busy = false;
    finishStopRequests();
    finishPendingSwitch();
    updatePowerActivity();
    publish(false);
}

void Controller::noteUnexpected(const std::string& message)
{
    // Once per distinct message: a fault that repeats every half second must not flood the log.
    if (unexpectedFailures_.insert(message).second)
        g_log("Quorvane", G_LOG_LEVEL_WARNING, "A turn of the run loop failed: %s", message.c_str());
}

void Controller::updatePowerActivity()
{
    const auto& jobs = vault_.account().jobs;
    bool expectingReply = storageHealthy_ && connection == ConnectionStatus::connected && !jobs.empty()
        && (jobs.front().phase == JobPhase::preparing || jobs.front().phase == JobPhase::submitting
            || jobs.front().phase == JobPhase::waiting);
    if (!expectingReply)
        power_.reset();
    else if (!power_)
        power_ = services_.power.hold(sentences::powerReason);
}

}  // namespace quorvane
