#pragma once
// The desktop's store for secrets (Secret Service or KWallet, through QtKeychain).
// Its requests run on a thread of its own with an event loop, so that any thread may
// ask and none waits longer than the time-outs below for a store that never answers.

#include <chrono>
#include <memory>

#include "core/secret_store.h"

namespace app {

class DesktopSecretStore final : public core::SecretStore {
public:
    struct Timing {
        std::chrono::milliseconds read{5000};
        std::chrono::milliseconds write{10000};  // a locked keyring may ask the user first
    };
    explicit DesktopSecretStore(Timing timing);
    DesktopSecretStore() : DesktopSecretStore(Timing{}) {}
    ~DesktopSecretStore() override;

    Result Read(const std::string& account, std::string& password) override;
    Result Write(const std::string& account, const std::string& password) override;
    Result Remove(const std::string& account) override;

private:
    struct Worker;
    std::unique_ptr<Worker> worker_;
    Timing timing_;
};

}  // namespace app
