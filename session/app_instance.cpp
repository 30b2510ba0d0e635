#include "session/app_instance.h"

#include <mutex>
#include <shared_mutex>

#include "session/camera_hooks.h"
#include "control/control_client.h"
#include "platform/thread_messages.h"

namespace session {
namespace {
std::mutex g_instanceMutex;
std::unique_ptr<CAppInteance> g_instance;
// The object as the IfAlive posts see it; cleared (under the writer lock) before the
// object goes.
std::shared_mutex g_aliveMutex;
CAppInteance* g_alive = nullptr;
}  // namespace

CAppInteance& CAppInteance::Instance() {
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance) {
        g_instance = std::make_unique<CAppInteance>();
        std::unique_lock alive(g_aliveMutex);
        g_alive = g_instance.get();
    }
    return *g_instance;
}

bool CAppInteance::PostNotifyIfAlive(platform::Message message) {
    std::shared_lock lock(g_aliveMutex);
    return g_alive && g_alive->PostNotify(std::move(message));
}

bool CAppInteance::PostTaskIfAlive(platform::Message message) {
    std::shared_lock lock(g_aliveMutex);
    return g_alive && g_alive->PostTask(std::move(message));
}

bool CAppInteance::Exists() {
    std::lock_guard lock(g_instanceMutex);
    return g_instance != nullptr;
}

void CAppInteance::Destroy() {
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance) return;
    // The cameras go after the task threads: an open still queued or running would
    // otherwise make or reopen a camera behind the closing of all of them, and its play
    // thread would outlive the session.
    // First the control client stops answering: a task or a supervisor pass waiting in
    // a request returns at once instead of holding the logout for up to a minute.
    if (const auto client = control::ControlClient::Current()) client->Shutdown();
    g_instance->StopTaskThreads();
    if (const CameraHooks hooks = InstalledCameraHooks(); hooks.destroyAll) hooks.destroyAll();
    control::ControlClient::Destroy();
    {
        std::unique_lock alive(g_aliveMutex);
        g_alive = nullptr;
    }
    g_instance.reset();
}

namespace {
SupervisorEnvironment ApplicationSupervisorEnvironment(CAppInteance& application) {
    SupervisorEnvironment environment;
    environment.requestAddress = [](const std::string& cameraId) {
        const auto client = control::ControlClient::Current();  // held while the request waits
        return client ? client->RequestForwardingAddress(cameraId) : control::TransportAddress{};
    };
    environment.cellWindow = [](int cell) -> platform::WindowHandle {
        const CameraHooks hooks = InstalledCameraHooks();
        return hooks.cellWindow ? hooks.cellWindow(cell) : 0;
    };
    environment.postNotify = [&application](platform::Message m) { return application.PostNotify(std::move(m)); };
    environment.postTask = [&application](platform::Message m) { return application.PostTask(std::move(m)); };
    return environment;
}
}  // namespace

CAppInteance::CAppInteance() : reconnector_(reconnection_, ApplicationSupervisorEnvironment(*this)) {
    pump_.Start();
    reconnector_.Start();
}

CAppInteance::~CAppInteance() { StopTaskThreads(); }

void CAppInteance::StopTaskThreads() {
    pump_.Stop();
    reconnector_.Stop();  // its requests would go to the stopped pump
    pool_.Stop();         // runs what is queued first
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

}  // namespace session
