// The engine: systems, the frame loop, the message bus and the object factory.
//
// Delivery contract:
// - RelayMessage queues; the queue is delivered first-in first-out after every system's Update of a
//   frame and once after Initialize, draining until empty (messages relayed during the drain join the
//   same drain, at most kMaxRelayedPerFrame per drain). Relayed messages reach listeners only.
// - ImmediateMessage delivers before it returns, re-entrantly: first to the listeners of the type,
//   then to every system's HandleMessage in add order. Receivers may write answers into the message.
// - Listeners get messages in registration order. Delivery walks a snapshot of the table: a listener
//   registered during a delivery gets the next messages; one unregistered during a delivery gets
//   nothing more.
// - A message of type 13 (Quit) ends GameLoop after the current frame.
// All of it runs on the thread that runs the loop.
#pragma once

#include "Callable.h"
#include "Message.h"
#include "MessageType.h"

#include <cstddef>
#include <memory>

class ObjectFactory;
class System;

class Engine {
public:
    static constexpr std::size_t kMaxRelayedPerFrame = 10000;
    static constexpr float kMaxFrameTime = 0.25f;

    // The engine owns the system from here on and deletes it in Release.
    static void AddSystem(System* system);
    // Initialize of every system in add order, then one delivery of the relayed queue.
    static void Initialize();
    // Frames with the measured frame time (clamped to [0, kMaxFrameTime] s) until a Quit message.
    static void GameLoop();
    // Runs at most `frames` frames with a fixed dt (clamped as in GameLoop); stops after the frame
    // in which a Quit message arrived. Returns the number of frames run.
    static int RunFrames(int frames, float dt);
    // Release of every system in add order, then deletes them (their destructors may still
    // unregister), destroys every object, and clears the listeners and the queue. Returns the first
    // non-zero result of the systems' Release, else 0: the process exit status.
    static int Release();

    static void RegisterListener(MessageType type, Callable callable);
    // Removes the first listener of that type whose id equals the callable's.
    static void UnregisterListener(MessageType type, Callable callable);
    static void RelayMessage(std::shared_ptr<Message> message);
    static void ImmediateMessage(std::shared_ptr<Message> message);

    static ObjectFactory* mFactory;
};
