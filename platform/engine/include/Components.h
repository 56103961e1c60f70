// The component classes. World-space queries of Collider and Camera follow their object's Transform.
#pragma once

#include "Object.h"
#include "Vectormath.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Position, Euler rotation (radians, applied x then y then z) and scale; world = T * R * S.
class Transform : public Component {
public:
    Transform();
    const Vectormath::Aos::Vector3& GetPosition() const { return mPosition; }
    void SetWorldPosition(const Vectormath::Aos::Vector3& position);
    const Vectormath::Aos::Vector3& GetRotation() const { return mRotation; }
    void SetRotation(const Vectormath::Aos::Vector3& radians);
    const Vectormath::Aos::Vector3& GetScale() const { return mScale; }
    void SetScale(const Vectormath::Aos::Vector3& scale);
    const Vectormath::Aos::Matrix4& GetWorldTransform() const { return mWorld; }
    // The rotation alone, as a 4x4 matrix whose upper 3x3 holds it.
    const Vectormath::Aos::Matrix4& GetWoldRotation() const { return mWorldRotation; }
    // Rebuilds both matrices; every setter already does.
    void UpdateMatrices();

private:
    Vectormath::Aos::Vector3 mPosition;
    Vectormath::Aos::Vector3 mRotation;
    Vectormath::Aos::Vector3 mScale;
    Vectormath::Aos::Matrix4 mWorld;
    Vectormath::Aos::Matrix4 mWorldRotation;
};

class RigidBody : public Component {
public:
    RigidBody();
    bool IsStatic() const { return mStatic; }
    void SetStatic(bool isStatic) { mStatic = isStatic; }
    // 0 for a static body or a mass of 0 or less: such a body does not move under forces or impulses.
    float GetInvMass() const;
    const Vectormath::Aos::Vector3& GetNetForce() const { return mNetForce; }
    // Accumulates into the net force until ClearForces.
    void AddForce(const Vectormath::Aos::Vector3& force) { mNetForce += force; }
    // velocity += impulse * inverse mass.
    void AddImpulse(const Vectormath::Aos::Vector3& impulse) { velocity += impulse * GetInvMass(); }
    void ClearForces() { mNetForce = Vectormath::Aos::Vector3(0.0f); }
    float GetDamping() const { return mDamping; }
    void SetDamping(float damping) { mDamping = damping; }
    const Vectormath::Aos::Vector3& GetVelocity() const { return velocity; }
    void SetVelocity(const Vectormath::Aos::Vector3& v) { velocity = v; }
    bool GetUseGravity() const { return useGravity; }
    void SetUseGravity(bool use) { useGravity = use; }

    // Read and written in place by the physics step.
    bool useGravity = true;
    float mass = 1.0f;
    Vectormath::Aos::Vector3 velocity;

private:
    bool mStatic = false;
    float mDamping = 1.0f;
    Vectormath::Aos::Vector3 mNetForce;
};

enum class ShapeType : int { SPHERE = 0, AABB = 1, OBB = 2, CAPSULE = 3, INVALID = 4 };

// The shape sits at its object's Transform position plus an offset. Half extents are given in the
// object's space and scaled by the Transform; the radius is in world units. A capsule is a segment
// along y of half length halfExtents.y (scaled) swept by the radius.
class Collider : public Component {
public:
    Collider();
    unsigned GetCollisionGroup() const { return mGroup; }
    void SetCollisionGroup(unsigned group) { mGroup = group; }
    ShapeType GetShapeType() const { return mShape; }
    void SetShapeType(ShapeType shape) { mShape = shape; }
    bool IsGhost() const { return mGhost; }
    void SetGhost(bool ghost) { mGhost = ghost; }
    float GetRadius() const { return mRadius; }
    void SetRadius(float radius) { mRadius = radius; }
    const Vectormath::Aos::Vector3& GetOffset() const { return mOffset; }
    void SetOffset(const Vectormath::Aos::Vector3& offset) { mOffset = offset; }
    const Vectormath::Aos::Vector3& GetLocalHalfExtents() const { return mHalfExtents; }
    void SetHalfExtents(const Vectormath::Aos::Vector3& halfExtents) { mHalfExtents = halfExtents; }

    // World-space values, computed from the object's Transform at each call (identity without one).
    Vectormath::Aos::Vector3 GetCenter() const;
    // The world box around the shape, for every shape.
    Vectormath::Aos::Vector3 GetAabbMin() const;
    Vectormath::Aos::Vector3 GetAabbMax() const;
    // Half extents scaled by the Transform.
    Vectormath::Aos::Vector3 GetHalfExtents() const;
    // The box's unit axes: the columns of the Transform's rotation.
    std::array<Vectormath::Aos::Vector3, 3> GetObbAxes() const;
    Vectormath::Aos::Vector3 GetObbWorldHalfExtents() const;
    // The box's size along its own axes as half extents (the same value as GetObbWorldHalfExtents).
    Vectormath::Aos::Vector3 GetObbWorldScale() const;

private:
    Vectormath::Aos::Vector3 WorldBoxReach() const;

    unsigned mGroup = 0;
    ShapeType mShape = ShapeType::SPHERE;
    bool mGhost = false;
    float mRadius = 0.5f;
    Vectormath::Aos::Vector3 mOffset;
    Vectormath::Aos::Vector3 mHalfExtents;
};

class Renderable : public Component {
public:
    Renderable();
    const std::string& GetModel() const { return mModel; }
    void SetModel(const std::string& model) { mModel = model; }
    const std::string& GetShader() const { return mShader; }
    void SetShader(const std::string& shader) { mShader = shader; }
    const std::vector<std::string>& GetTextures() const { return mTextures; }
    void AddTexture(const std::string& texture) { mTextures.push_back(texture); }
    bool GetTransparency() const { return mTransparent; }
    void SetTransparency(bool transparent) { mTransparent = transparent; }
    bool GetVisibility() const { return mVisible; }
    void SetVisibility(bool visible) { mVisible = visible; }
    // Red, green, blue, alpha.
    const Vectormath::Aos::Vector4& GetColor() const { return mColor; }
    void SetColor(const Vectormath::Aos::Vector4& color) { mColor = color; }
    const Vectormath::Aos::Vector4& GetBlendFactors() const { return mBlend; }
    void SetBlendFactors(const Vectormath::Aos::Vector4& blend) { mBlend = blend; }

private:
    std::string mModel;
    std::string mShader;
    std::vector<std::string> mTextures;
    bool mTransparent = false;
    bool mVisible = true;
    Vectormath::Aos::Vector4 mColor;
    Vectormath::Aos::Vector4 mBlend;
};

// Looks along its object's rotation applied to a local forward direction (default -z).
class Camera : public Component {
public:
    // The largest width or height of a camera's target: the largest texture a device makes.
    static constexpr unsigned kMaxSide = 16384;

    Camera();
    // Right-handed view matrix from the object's Transform position and the directions below.
    Vectormath::Aos::Matrix4 GetCameraTransformation() const;
    Vectormath::Aos::Vector3 GetLookAt() const;
    Vectormath::Aos::Vector3 GetRightVector() const;
    Vectormath::Aos::Vector3 GetUpVector() const;
    void SetLocalDirections(const Vectormath::Aos::Vector3& forward, const Vectormath::Aos::Vector3& up);

    unsigned GetCameraWidth() const { return mWidth; }
    unsigned GetCameraHeight() const { return mHeight; }
    // A size that differs from the current one raises the did-change flag.
    void SetCameraWidth(unsigned width);
    void SetCameraHeight(unsigned height);
    bool GetDidChange() const { return mDidChange; }
    void SetDidChange(bool changed) { mDidChange = changed; }
    // Vertical field of view in radians.
    float GetCameraFOV() const { return mFov; }
    void SetCameraFOV(float radians) { mFov = radians; }
    float GetCameraNear() const { return mNear; }
    void SetCameraNear(float nearPlane) { mNear = nearPlane; }
    float GetCameraFar() const { return mFar; }
    void SetCameraFar(float farPlane) { mFar = farPlane; }

private:
    Vectormath::Aos::Matrix3 WorldRotation() const;
    Vectormath::Aos::Vector3 WorldPosition() const;

    Vectormath::Aos::Vector3 mForward;
    Vectormath::Aos::Vector3 mUp;
    unsigned mWidth = 1600;
    unsigned mHeight = 900;
    bool mDidChange = false;
    float mFov = 0.785398163f;
    float mNear = 0.1f;
    float mFar = 1000.0f;
};

enum LightType : int { LIGHT_DIRECTIONAL = 0, LIGHT_POINT = 1, LIGHT_SPOT = 2 };

class Light : public Component {
public:
    Light();
    ~Light() override;
    const Vectormath::Aos::Vector3& GetDiffuseIntensity() const { return mDiffuse; }
    void SetDiffuseIntensity(const Vectormath::Aos::Vector3& v) { mDiffuse = v; }
    int GetLightType() const { return mType; }
    void SetLightType(int type) { mType = type; }
    const Vectormath::Aos::Vector3& GetSpecularIntensity() const { return mSpecular; }
    void SetSpecularIntensity(const Vectormath::Aos::Vector3& v) { mSpecular = v; }
    float GetIntensity() const { return mIntensity; }
    void SetIntensity(float v) { mIntensity = v; }
    const Vectormath::Aos::Vector3& GetLightDirection() const { return mDirection; }
    void SetLightDirection(const Vectormath::Aos::Vector3& v) { mDirection = v; }
    float GetRange() const { return mRange; }
    void SetRange(float v) { mRange = v; }
    float GetFalloffValue() const { return mFalloff; }
    void SetFalloffValue(float v) { mFalloff = v; }
    float GetInteriorAngle() const { return mInterior; }
    void SetInteriorAngle(float v) { mInterior = v; }
    float GetExteriorAngle() const { return mExterior; }
    void SetExteriorAngle(float v) { mExterior = v; }
    // Added to the object's Transform position to place the light.
    const Vectormath::Aos::Vector3& GetLightPositionOffset() const { return mOffset; }
    void SetLightPositionOffset(const Vectormath::Aos::Vector3& v) { mOffset = v; }

private:
    Vectormath::Aos::Vector3 mDiffuse;
    int mType = LIGHT_POINT;
    Vectormath::Aos::Vector3 mSpecular;
    float mIntensity = 1.0f;
    Vectormath::Aos::Vector3 mDirection;
    float mRange = 10.0f;
    float mFalloff = 1.0f;
    float mInterior = 0.0f;
    float mExterior = 0.0f;
    Vectormath::Aos::Vector3 mOffset;
};

// A player's controls. The game rules hand it the player's button, trigger, stick and mouse-look
// messages; it keeps what is held and acts on edges at once (flares, debug actions). The level's
// ruleset calls Update once per frame of play to move, turn and time the player. Input counts only
// while playing: in any other state it is ignored, except that releases still let go of what is held.
class Controller : public Component {
public:
    static constexpr float kWalkSpeed = 5.0f;   // m/s
    static constexpr float kSprintSpeed = 9.0f; // m/s
    static constexpr float kSprintDrainPerSecond = 0.5f;
    static constexpr float kSprintRecoveryPerSecond = 0.25f;
    // Radians per mouse-look message at full sideways movement: input sends one unit direction a
    // frame while the mouse moves.
    static constexpr float kMouseTurn = 0.04f;
    static constexpr float kStickTurnRate = 3.0f; // radians per second at full deflection
    static constexpr float kFlareSpeed = 12.0f;   // m/s
    static constexpr float kFlareLifetime = 3.0f; // s

    Controller();
    unsigned GetPlayerNumber() const { return mPlayer; }
    void SetPlayerNumber(unsigned player) { mPlayer = player; }

    void HandleMessage(const std::shared_ptr<Message>& message) override;
    // Applies the held controls to the player's body and rotation, runs the sprint and flare timers
    // and retires old flares. A perished player, or one whose body is static (escaped), no longer
    // moves: a dead player keeps its last velocity.
    void Update(float dt);

    float GetYaw() const { return mYaw; }
    // The live flares this player has fired, oldest first.
    std::vector<std::uint32_t> GetFlares() const;

    // Written by the graphics device when it enters or leaves full screen.
    static bool isFullscreened;

private:
    enum Held : unsigned { HELD_LEFT = 1, HELD_RIGHT = 2, HELD_UP = 4, HELD_DOWN = 8, HELD_SPRINT = 16 };
    struct Flare {
        std::weak_ptr<Object> object;
        float age;
    };

    void HandleButton(MessageType type, const std::string& action);
    void FireFlare();

    unsigned mPlayer = 0;
    unsigned mHeld = 0;
    bool mTriggerSprint = false;
    // Sticks arrive with the input system's dead zones applied.
    float mStickX = 0.0f;   // left stick: -1 left .. 1 right
    float mStickY = 0.0f;   // -1 back .. 1 forward
    float mTurnRate = 0.0f; // right stick, -1 .. 1
    float mYaw = 0.0f;      // radians about y; 0 looks down -z
    std::vector<Flare> mFlares;
};

enum DebugDrawFlags : std::uint32_t { DEBUG_DRAW_VELOCITY = 1, DEBUG_DRAW_FORCE = 2, DEBUG_DRAW_SHAPES = 4 };

class Debug : public Component {
public:
    Debug();
    std::uint32_t GetDrawFlags() const { return mFlags; }
    void SetDrawFlags(std::uint32_t flags) { mFlags = flags; }
    const Vectormath::Aos::Vector4& GetNormalColor() const { return mNormal; }
    void SetNormalColor(const Vectormath::Aos::Vector4& c) { mNormal = c; }
    const Vectormath::Aos::Vector4& GetGhostColor() const { return mGhost; }
    void SetGhostColor(const Vectormath::Aos::Vector4& c) { mGhost = c; }
    const Vectormath::Aos::Vector4& GetStaticColor() const { return mStatic; }
    void SetStaticColor(const Vectormath::Aos::Vector4& c) { mStatic = c; }
    const Vectormath::Aos::Vector4& GetStaticGhostColor() const { return mStaticGhost; }
    void SetStaticGhostColor(const Vectormath::Aos::Vector4& c) { mStaticGhost = c; }

private:
    std::uint32_t mFlags = 0;
    Vectormath::Aos::Vector4 mNormal, mGhost, mStatic, mStaticGhost;
};

class PlayerStats : public Component {
public:
    PlayerStats();
    void AddKeyCard() { ++mKeyCards; }
    void AddPowerCell() { ++mPowerCells; }
    int GetKeyCards() const { return mKeyCards; }
    int GetPowerCells() const { return mPowerCells; }
    float GetTimeSinceFlareRecharge() const { return mTimeSinceFlare; }
    void SetTimeSinceFlareRecharge(float seconds) { mTimeSinceFlare = seconds; }
    // 0 (exhausted) to 1 (full).
    float GetSprintLevel() const { return mSprint; }
    void SetSprintLevel(float level) { mSprint = level; }

    // Read in place by the HUD and the results screen.
    float flareRechargeTime = 5.0f;
    bool perished = false;

private:
    int mKeyCards = 0;
    int mPowerCells = 0;
    float mTimeSinceFlare = 0.0f;
    float mSprint = 1.0f;
};

// "PowerCell" or "KeyCard".
class PickupComponent : public Component {
public:
    PickupComponent();
    const std::string& GetPickupType() const { return mType; }
    void SetPickupType(const std::string& type) { mType = type; }

private:
    std::string mType;
};

class GroupComponent : public Component {
public:
    GroupComponent();
    const std::string& GetGroupName() const { return mName; }
    void SetGroupName(const std::string& name) { mName = name; }

private:
    std::string mName;
};

class RoomComponent : public Component {
public:
    RoomComponent();
    int GetRoomID() const { return mRoom; }
    void SetRoomID(int room) { mRoom = room; }

private:
    int mRoom = 0;
};

// Marks a player's start position (its object's Transform).
class Spawner : public Component {
public:
    Spawner();
};

// The level's rules: the game flow runs the ruleset it holds each frame of play. From its first
// Update on, while playing, it judges what the players touch (collision begin): a pickup gives its
// item and disappears, an escape pod takes a player who carries a keycard and a power cell, a
// flooded room drowns. Each frame it moves the players through their Controllers and drowns every
// player inside a flooded room. A player dies or escapes once. A ruleset that is never updated
// (another "Arbiter" in the level) does nothing. Sender of its game events: "LevelRuleset".
class LevelRuleset : public Component {
public:
    LevelRuleset();
    ~LevelRuleset() override;
    virtual void Update(float dt);

    // The GameEventMessage texts.
    static constexpr const char* kKeyCardEvent = "keycard picked up";
    static constexpr const char* kPowerCellEvent = "powercell picked up";
    static constexpr const char* kEscapeEvent = "escape pod launched";
    static constexpr const char* kDeathEvent = "player died";

private:
    void HandleCollision(const std::shared_ptr<Message>& message);
    // The player touched the other object.
    void Touch(const std::shared_ptr<Object>& player, const std::shared_ptr<Object>& other);
    void Drown(const std::shared_ptr<Object>& player);
    void Escape(const std::shared_ptr<Object>& player);
    bool IsFinished(const Object& player) const;

    bool mActive = false;
    std::vector<std::uint32_t> mFinished; // players who died or escaped
};

// Marks an escape pod: a player touching it with a keycard and a power cell escapes.
class EscapePod : public Component {
public:
    EscapePod();
};

// A timed behaviour that the game rules own and run once per frame.
class BehaviorComponent : public Component {
public:
    using Component::Component;
    virtual float GetTimeLeft() const = 0;
    virtual void Update(float dt) = 0;
    virtual void Finish() = 0;
    virtual std::string GetGroupName() const = 0;
    virtual bool IsBlocking() const = 0;
    virtual bool IsExclusive() const = 0;
    // The object it acts on: its own parent.
    virtual std::uint32_t GetActedOnObjectID() const = 0;
};

// Lives on the pause object while the game is paused: it never runs out by itself; the game rules
// destroy its object on resume. Finish ends it.
class PauseBehavior : public BehaviorComponent {
public:
    PauseBehavior();
    float GetTimeLeft() const override { return mFinished ? 0.0f : 1.0f; }
    void Update(float dt) override { mPausedTime += dt; }
    void Finish() override { mFinished = true; }
    std::string GetGroupName() const override { return {}; }
    bool IsBlocking() const override { return false; }
    bool IsExclusive() const override { return false; }
    std::uint32_t GetActedOnObjectID() const override;
    // Seconds spent paused so far.
    float GetPausedTime() const { return mPausedTime; }

private:
    bool mFinished = false;
    float mPausedTime = 0.0f;
};
