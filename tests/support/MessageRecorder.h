// Every message of the listed types that reaches the engine's bus, in delivery order. Shared by the
// tests of the game's systems; a test that links the engine library includes it.
#pragma once

#include <Callable.h>
#include <Engine.h>
#include <Messages.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

class MessageRecorder {
public:
    explicit MessageRecorder(std::vector<MessageType> types) : mTypes(std::move(types)) {
        for (MessageType type : mTypes)
            Engine::RegisterListener(type, Callable(this, &MessageRecorder::Record));
    }
    ~MessageRecorder() {
        for (MessageType type : mTypes)
            Engine::UnregisterListener(type, Callable(this, &MessageRecorder::Record));
    }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    void Record(const std::shared_ptr<Message>& message) { seen.push_back(message); }

    // What was seen since the last take.
    std::vector<std::shared_ptr<Message>> Take() { return std::exchange(seen, {}); }
    template <class T> std::vector<std::shared_ptr<T>> TakeOf(MessageType type) {
        std::vector<std::shared_ptr<T>> found;
        for (const auto& message : Take())
            if (message->GetMessageType() == type) found.push_back(std::static_pointer_cast<T>(message));
        return found;
    }
    // The texts of the error reports seen.
    std::vector<std::string> ErrorTexts() const {
        std::vector<std::string> texts;
        for (const auto& m : seen)
            if (const auto* e = dynamic_cast<const ErrorMessage*>(m.get())) texts.push_back(e->GetText());
        return texts;
    }

    std::vector<std::shared_ptr<Message>> seen;

private:
    std::vector<MessageType> mTypes;
};
