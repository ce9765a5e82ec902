#include "app/thread_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

void RaiseThreadPriority() {
    // A middling real-time priority: above every ordinary thread, below the kernel's own real-time threads.
    sched_param param{};
    const int lowest = sched_get_priority_min(SCHED_RR), highest = sched_get_priority_max(SCHED_RR);
    param.sched_priority = lowest + 19 < highest ? lowest + 19 : highest;
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0)
        return;
    for (int nice = -20; nice < 0; nice += 5)
        if (setpriority(PRIO_PROCESS, pid_t(gettid()), nice) == 0)
            return;
}
