// A listener record: an id and the function that receives the message.
#pragma once

#include "Message.h"

#include <cstdint>
#include <functional>
#include <memory>

using CallableFunction = std::function<void(const std::shared_ptr<Message>&)>;

class Callable {
public:
    Callable(std::uint64_t id, CallableFunction function) : mId(id), mFunction(std::move(function)) {}

    // Binds a member function of the owner; the id depends only on (owner, handler), so building the
    // same pair again at unregistration time gives an equal id.
    template <class Owner, class Handler>
    Callable(Owner* owner, Handler Owner::*handler)
        : mId(IdOf(owner, handler)), mFunction([owner, handler](const std::shared_ptr<Message>& message) {
              (owner->*handler)(message);
          }) {}

    std::uint64_t GetID() const { return mId; }
    const CallableFunction& GetFunction() const { return mFunction; }
    void operator()(const std::shared_ptr<Message>& message) const { mFunction(message); }

    // Same (owner, token bytes) gives the same id; different pairs always differ (ids are handed out
    // from a table, not hashed). A pointer to member function cannot become an integer portably, so
    // its bytes serve as the token.
    static std::uint64_t MakeID(const void* owner, const void* token, std::size_t tokenSize);

    template <class Owner, class Handler>
    static std::uint64_t IdOf(const Owner* owner, Handler Owner::*handler) {
        return MakeID(owner, &handler, sizeof(handler));
    }

private:
    std::uint64_t mId;
    CallableFunction mFunction;
};
