#include "app/app_instance.h"

#include <mutex>

#include "control/control_client.h"
#include "platform/thread_messages.h"

namespace app {
namespace {
std::mutex g_instanceMutex;
std::unique_ptr<CAppInteance> g_instance;
}  // namespace

CAppInteance& CAppInteance::Instance() {
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance) g_instance = std::make_unique<CAppInteance>();
    return *g_instance;
}

bool CAppInteance::Exists() {
    std::lock_guard lock(g_instanceMutex);
    return g_instance != nullptr;
}

void CAppInteance::Destroy() {
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance) return;
    control::ControlClient::Destroy();
    g_instance.reset();
}

CAppInteance::CAppInteance() { pump_.Start(); }

CAppInteance::~CAppInteance() {
    pump_.Stop();
    pool_.Stop();
}

bool CAppInteance::PostNotify(platform::Message message) const {
    return platform::PostWindowMessage(notifyWindow_, std::move(message));
}

std::intptr_t CAppInteance::SendNotify(platform::Message message) const {
    return platform::SendWindowMessage(notifyWindow_, std::move(message));
}

bool CAppInteance::PostTask(platform::Message message) const {
    return platform::PostThreadMessage(pump_.ThreadId(), std::move(message));
}

}  // namespace app
