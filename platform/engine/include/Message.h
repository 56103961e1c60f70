// The base of every message on the engine's bus.
#pragma once

#include "MessageType.h"

#include <string>

class Message {
public:
    Message(const std::wstring& sender, MessageType type) : mSender(sender), mType(type) {}
    virtual ~Message();

    MessageType GetMessageType() const { return mType; }
    const std::wstring& GetSender() const { return mSender; }

private:
    std::wstring mSender;
    MessageType mType;
};
