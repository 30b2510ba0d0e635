#pragma once
// Messages between threads and windows. The message number and its two integer
// parameters keep their meaning; any record that travels with a message is an owned,
// typed payload instead of a raw pointer, so a message that is dropped frees it.

#include <cstdint>
#include <memory>
#include <utility>

namespace platform {

class Payload {
public:
    virtual ~Payload() = default;
};

template <class T>
class PayloadOf final : public Payload {
public:
    explicit PayloadOf(T v) : value(std::move(v)) {}
    T value;
};

using PayloadPtr = std::unique_ptr<Payload>;

template <class T>
PayloadPtr MakePayload(T value) {
    return std::make_unique<PayloadOf<T>>(std::move(value));
}

struct Message {
    std::uint32_t id = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    PayloadPtr payload;

    Message() = default;
    Message(std::uint32_t id_, std::uintptr_t w = 0, std::intptr_t l = 0, PayloadPtr p = nullptr)
        : id(id_), wParam(w), lParam(l), payload(std::move(p)) {}
};

// The payload as T, or nullptr when there is none or it is of another type.
template <class T>
T* PayloadAs(const Message& message) {
    auto* typed = dynamic_cast<PayloadOf<T>*>(message.payload.get());
    return typed ? &typed->value : nullptr;
}

}  // namespace platform
