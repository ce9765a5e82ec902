#include "app/pacing.h"

FlipPlan PlanFlip(FlipPacing* pacing, uint64_t now, bool visible, bool mayDrop) {
    const uint64_t period = PacingSecond / PacingFlipsPerSecond;
    if (!pacing->started) {
        *pacing = FlipPacing{true, now, 0};
    }
    const uint64_t due = FlipDue(*pacing, pacing->flips);
    FlipPlan plan{now, visible};
    if (now < due) {
        plan.showAt = due;
    } else if (now - due >= period) {
        if (mayDrop) {
            plan.show = false;
        } else if (now - due >= MaxCatchUp) {
            // Too far behind to catch up unseen: count from here.
            pacing->anchor = now;
            pacing->flips = 0;
        }
    }
    pacing->flips += 1;
    return plan;
}
