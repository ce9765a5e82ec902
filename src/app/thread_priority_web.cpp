#include "app/thread_priority.h"

// Web Workers run at whatever priority the browser gives them.
void RaiseThreadPriority() {}
