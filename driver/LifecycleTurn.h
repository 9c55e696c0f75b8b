// One lifecycle call (Open, Close, SetSuspended) at a time, whichever of the
// host's threads make them.
//
// A call that finds another under way on another thread waits for its turn
// within its own bound, serving messages sent to its thread. A call made on
// the thread that is inside one (from a key callback or a sent message that
// call's wait serves) finds it under way too, and does not wait. A call that
// does not get its turn is not carried out and says so (Open and SetSuspended
// answer 0), except Close, which is never lost: it is left to the call under
// way, which stops at its next step and carries the Close out as it ends.
#pragma once

#include "../common/Parameters.h"
#include "Clock.h"

class CBrailleSampleDriver;

class LifecycleTurn {
public:
    // What becomes of a call that does not get its turn.
    enum class IfMissed { kRefuse, kLeaveToCallUnderWay };
    // Close's own work, within the bound, with the turn held.
    using CloseWork = void (*)(CBrailleSampleDriver* driver, const Deadline& bound);
    // name: the call, for the debugger; closeLeft: what carries out a Close
    // left to this call.
    LifecycleTurn(CBrailleSampleDriver* driver, const Deadline& bound, const wchar_t* name,
                  IfMissed ifMissed, CloseWork closeLeft);
    ~LifecycleTurn() { End(Deadline(qorn::kHostWaitBudgetMs)); }
    LifecycleTurn(const LifecycleTurn&) = delete;
    LifecycleTurn& operator=(const LifecycleTurn&) = delete;

    bool held() const { return held_; }
    // A Close was left to this call: it is to stop at its next step.
    bool CloseLeft() const;
    // Carries out any Close left to this call, within the bound, then gives
    // the turn back. True when it closed the driver.
    bool End(const Deadline& bound);

private:
    CBrailleSampleDriver* driver_;
    CloseWork closeLeft_;
    bool held_ = false;
};
