// The base of every system that plugs into the engine.
#pragma once

#include "Message.h"

#include <memory>
#include <mutex>
#include <queue>
#include <string>

class System {
public:
    explicit System(const std::wstring& name);
    virtual ~System();

    // Immediate messages reach every system here; the default ignores them.
    virtual void HandleMessage(std::shared_ptr<Message> message);
    // Appends to the system's own queue under its mutex; the system drains the queue itself.
    virtual void TransmitQueue(std::shared_ptr<Message> message);
    virtual void Update(float dt);
    virtual int Release();
    virtual const std::wstring& GetName() const;
    virtual void Initialize();

protected:
    // The sender name of the system's messages.
    std::wstring mName;
    // Guarded by mQueueMutex: TransmitQueue may be called from any thread.
    std::queue<std::shared_ptr<Message>> mMessageQueue;
    std::mutex mQueueMutex;
};
