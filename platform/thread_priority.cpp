#include "platform/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

bool SetCurrentThreadBelowNormal() {
    // On Linux a thread is a task of its own: its id takes a nice value of its own.
    return setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 5) == 0;
}

}  // namespace platform
