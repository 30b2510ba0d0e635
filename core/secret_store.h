#pragma once
// Where remembered passwords are kept when the desktop offers a store for secrets
// (Secret Service, KWallet). The configuration only sees this interface; the desktop's
// store is put in by the program, tests put in their own.

#include <string>

namespace core {

class SecretStore {
public:
    enum class Result {
        kDone,        // read, written or removed
        kNotFound,    // the store answered: it holds nothing for this account
        kUnavailable  // no store answered (none running, locked, refused, too slow)
    };
    virtual ~SecretStore() = default;
    virtual Result Read(const std::string& account, std::string& password) = 0;
    virtual Result Write(const std::string& account, const std::string& password) = 0;
    virtual Result Remove(const std::string& account) = 0;
};

}  // namespace core
