#include "level_loader.h"

#include "Components.h"
#include "Messages.h"
#include "detail.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

using json = nlohmann::ordered_json;
using namespace Vectormath::Aos;

namespace zurari {
namespace {

constexpr float kDegreesToRadians = 3.14159265358979f / 180.0f;

// Reads the fields of one JSON object; remembers which were read so the rest can be reported.
class FieldReader {
public:
    FieldReader(const json& fields, std::string where) : mFields(fields), mWhere(std::move(where)) {}

    bool Float(const char* key, float& out) {
        const json* v = Find(key);
        if (!v) return false;
        if (!v->is_number()) return Wrong(key, "a number");
        const double d = v->get<double>();
        if (!std::isfinite(d) || std::fabs(d) > std::numeric_limits<float>::max())
            return Wrong(key, "a finite number");
        out = static_cast<float>(d);
        return true;
    }
    bool Bool(const char* key, bool& out) {
        const json* v = Find(key);
        if (!v) return false;
        if (!v->is_boolean()) return Wrong(key, "true or false");
        out = v->get<bool>();
        return true;
    }
    bool Int(const char* key, int& out) {
        const json* v = Find(key);
        if (!v) return false;
        if (!v->is_number_integer()) return Wrong(key, "an integer");
        const auto i = v->get<std::int64_t>();
        if (i < std::numeric_limits<int>::min() || i > std::numeric_limits<int>::max())
            return Wrong(key, "an integer in range");
        out = static_cast<int>(i);
        return true;
    }
    bool Unsigned(const char* key, std::uint32_t& out, std::uint32_t low = 0,
                  std::uint32_t high = 0xFFFFFFFFu) {
        const json* v = Find(key);
        if (!v) return false;
        if (!v->is_number_unsigned() || v->get<std::uint64_t>() < low || v->get<std::uint64_t>() > high) {
            const std::string expected =
                "an integer from " + std::to_string(low) + " to " + std::to_string(high);
            return Wrong(key, expected.c_str());
        }
        out = static_cast<std::uint32_t>(v->get<std::uint64_t>());
        return true;
    }
    bool String(const char* key, std::string& out) {
        const json* v = Find(key);
        if (!v) return false;
        if (!v->is_string()) return Wrong(key, "a string");
        out = v->get<std::string>();
        return true;
    }
    bool StringList(const char* key, std::vector<std::string>& out) {
        const json* v = Find(key);
        if (!v) return false;
        if (!v->is_array()) return Wrong(key, "a list of strings");
        std::vector<std::string> list;
        for (const json& item : *v) {
            if (!item.is_string()) return Wrong(key, "a list of strings");
            list.push_back(item.get<std::string>());
        }
        out = std::move(list);
        return true;
    }
    bool Vec3(const char* key, Vector3& out) {
        float f[3];
        if (!Floats(key, f, 3)) return false;
        out = Vector3(f[0], f[1], f[2]);
        return true;
    }
    bool Vec4(const char* key, Vector4& out) {
        float f[4];
        if (!Floats(key, f, 4)) return false;
        out = Vector4(f[0], f[1], f[2], f[3]);
        return true;
    }

    // Reports every field that no reader asked for.
    void ReportUnknown() const {
        for (auto it = mFields.begin(); it != mFields.end(); ++it)
            if (mUsed.count(it.key()) == 0)
                Log("Engine: " + mWhere + ": unknown field \"" + it.key() + "\" skipped");
    }

private:
    const json* Find(const char* key) {
        auto it = mFields.find(key);
        if (it == mFields.end()) return nullptr;
        mUsed.insert(key);
        return &*it;
    }
    bool Wrong(const char* key, const char* expected) {
        Log("Engine: " + mWhere + ": field \"" + key + "\" must be " + expected + "; skipped");
        return false;
    }
    bool Floats(const char* key, float* out, std::size_t count) {
        const json* v = Find(key);
        if (!v) return false;
        const std::string expected = "a list of " + std::to_string(count) + " numbers";
        if (!v->is_array() || v->size() != count) return Wrong(key, expected.c_str());
        for (std::size_t i = 0; i < count; ++i) {
            const json& item = (*v)[i];
            if (!item.is_number() || !std::isfinite(item.get<double>()) ||
                std::fabs(item.get<double>()) > std::numeric_limits<float>::max())
                return Wrong(key, expected.c_str());
            out[i] = static_cast<float>(item.get<double>());
        }
        return true;
    }

    const json& mFields;
    std::string mWhere;
    std::set<std::string> mUsed;
};

bool ShapeFromName(const std::string& name, ShapeType& shape) {
    static const char* const kNames[] = {"SPHERE", "AABB", "OBB", "CAPSULE"};
    for (int i = 0; i < 4; ++i) {
        if (name == kNames[i]) {
            shape = static_cast<ShapeType>(i);
            return true;
        }
    }
    return false;
}

bool LightTypeFromName(const std::string& name, int& type) {
    if (name == "directional")
        type = LIGHT_DIRECTIONAL;
    else if (name == "point")
        type = LIGHT_POINT;
    else if (name == "spot")
        type = LIGHT_SPOT;
    else
        return false;
    return true;
}

void ApplyTransform(Transform& t, FieldReader& f) {
    Vector3 v;
    if (f.Vec3("position", v)) t.SetWorldPosition(v);
    if (f.Vec3("rotation", v)) t.SetRotation(v * kDegreesToRadians);
    if (f.Vec3("scale", v)) t.SetScale(v);
}

void ApplyRigidBody(RigidBody& b, FieldReader& f) {
    bool flag{};
    float x{};
    Vector3 v;
    if (f.Bool("static", flag)) b.SetStatic(flag);
    if (f.Float("mass", x)) b.mass = x;
    if (f.Float("damping", x)) b.SetDamping(x);
    if (f.Bool("useGravity", flag)) b.SetUseGravity(flag);
    if (f.Vec3("velocity", v)) b.SetVelocity(v);
}

void ApplyCollider(Collider& c, FieldReader& f, const std::string& where) {
    std::string name;
    ShapeType shape = ShapeType::SPHERE;
    if (f.String("shape", name)) {
        if (ShapeFromName(name, shape))
            c.SetShapeType(shape);
        else
            Log("Engine: " + where + ": unknown shape \"" + name + "\" skipped");
    }
    float x{};
    bool flag{};
    Vector3 v;
    std::uint32_t group{};
    if (f.Float("radius", x)) c.SetRadius(x);
    if (f.Vec3("halfExtents", v)) c.SetHalfExtents(v);
    if (f.Vec3("offset", v)) c.SetOffset(v);
    if (f.Bool("ghost", flag)) c.SetGhost(flag);
    if (f.Unsigned("group", group)) c.SetCollisionGroup(group);
}

void ApplyRenderable(Renderable& r, FieldReader& f) {
    std::string s;
    std::vector<std::string> list;
    bool flag{};
    Vector4 v;
    if (f.String("model", s)) r.SetModel(s);
    if (f.String("shader", s)) r.SetShader(s);
    if (f.StringList("textures", list))
        for (const auto& texture : list)
            r.AddTexture(texture);
    if (f.Bool("transparent", flag)) r.SetTransparency(flag);
    if (f.Bool("visible", flag)) r.SetVisibility(flag);
    if (f.Vec4("color", v)) r.SetColor(v);
    if (f.Vec4("blend", v)) r.SetBlendFactors(v);
}

void ApplyCamera(Camera& c, FieldReader& f) {
    float x{};
    std::uint32_t u{};
    if (f.Float("fov", x)) c.SetCameraFOV(x * kDegreesToRadians);
    if (f.Float("near", x)) c.SetCameraNear(x);
    if (f.Float("far", x)) c.SetCameraFar(x);
    // A side no target can have would leave the camera without one.
    if (f.Unsigned("width", u, 1, Camera::kMaxSide)) c.SetCameraWidth(u);
    if (f.Unsigned("height", u, 1, Camera::kMaxSide)) c.SetCameraHeight(u);
    c.SetDidChange(false);
    Vector3 forward(0.0f, 0.0f, -1.0f), up(0.0f, 1.0f, 0.0f);
    f.Vec3("forward", forward);
    f.Vec3("up", up);
    c.SetLocalDirections(forward, up);
}

void ApplyLight(Light& l, FieldReader& f, const std::string& where) {
    std::string name;
    int type{};
    if (f.String("type", name)) {
        if (LightTypeFromName(name, type))
            l.SetLightType(type);
        else
            Log("Engine: " + where + ": unknown light type \"" + name + "\" skipped");
    }
    Vector3 v;
    float x{};
    if (f.Vec3("diffuse", v)) l.SetDiffuseIntensity(v);
    if (f.Vec3("specular", v)) l.SetSpecularIntensity(v);
    if (f.Vec3("direction", v)) l.SetLightDirection(v);
    if (f.Vec3("offset", v)) l.SetLightPositionOffset(v);
    if (f.Float("intensity", x)) l.SetIntensity(x);
    if (f.Float("range", x)) l.SetRange(x);
    if (f.Float("falloff", x)) l.SetFalloffValue(x);
    if (f.Float("interiorAngle", x)) l.SetInteriorAngle(x);
    if (f.Float("exteriorAngle", x)) l.SetExteriorAngle(x);
}

void ApplyDebug(Debug& d, FieldReader& f) {
    std::uint32_t flags{};
    Vector4 v;
    if (f.Unsigned("drawFlags", flags)) d.SetDrawFlags(flags);
    if (f.Vec4("normalColor", v)) d.SetNormalColor(v);
    if (f.Vec4("ghostColor", v)) d.SetGhostColor(v);
    if (f.Vec4("staticColor", v)) d.SetStaticColor(v);
    if (f.Vec4("staticGhostColor", v)) d.SetStaticGhostColor(v);
}

void ApplyPlayerStats(PlayerStats& p, FieldReader& f) {
    int n{};
    float x{};
    if (f.Int("keyCards", n))
        for (int i = 0; i < n; ++i)
            p.AddKeyCard();
    if (f.Int("powerCells", n))
        for (int i = 0; i < n; ++i)
            p.AddPowerCell();
    if (f.Float("flareRechargeTime", x)) p.flareRechargeTime = x;
    if (f.Float("sprintLevel", x)) p.SetSprintLevel(x);
}

std::string ReadFile(const std::string& kind, const std::string& name, const std::string& windowsPath,
                     bool& ok) {
    const std::string path = ResolvePath(windowsPath);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Log("Engine: " + kind + " \"" + name + "\" not found (" + path + "); nothing loaded");
        ok = false;
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    ok = true;
    return text.str();
}

bool ParseJson(const std::string& kind, const std::string& name, const std::string& text, json& out) {
    // The parser reports through exceptions; nothing else here throws.
    try {
        out = json::parse(text);
    } catch (const json::parse_error& error) {
        Log("Engine: " + kind + " \"" + name + "\" is not valid JSON (" + error.what() + "); nothing loaded");
        return false;
    }
    if (!out.is_object()) {
        Log("Engine: " + kind + " \"" + name + "\" must hold a JSON object; nothing loaded");
        return false;
    }
    return true;
}

// False (with the reason in `error`) when the object's shape is wrong.
bool ReadObject(const json& entry, const std::string& where, ObjectSpec& object, std::string& error) {
    if (!entry.is_object()) {
        error = where + " must be a JSON object";
        return false;
    }
    object.where = where;
    auto name = entry.find("name");
    if (name != entry.end()) {
        if (!name->is_string()) {
            error = where + ": \"name\" must be a string";
            return false;
        }
        object.name = name->get<std::string>();
        object.where = where + " \"" + object.name + "\"";
    }
    for (auto it = entry.begin(); it != entry.end(); ++it)
        if (it.key() != "name" && it.key() != "components")
            Log("Engine: " + object.where + ": unknown field \"" + it.key() + "\" skipped");
    auto components = entry.find("components");
    if (components == entry.end()) return true;
    if (!components->is_object()) {
        error = object.where + ": \"components\" must be a JSON object";
        return false;
    }
    for (auto it = components->begin(); it != components->end(); ++it) {
        const ComponentType type = ComponentTypeFromName(it.key());
        if (type == ComponentType::None) {
            Log("Engine: " + object.where + ": unknown component \"" + it.key() + "\" skipped");
            continue;
        }
        if (!it->is_object()) {
            Log("Engine: " + object.where + ": component \"" + it.key() +
                "\" must be a JSON object; skipped");
            continue;
        }
        object.components.push_back(ComponentSpec{type, *it});
    }
    return true;
}

std::shared_ptr<Message> ReadOnLoadMessage(const json& entry, const std::string& where) {
    if (!entry.is_object() || entry.size() != 1) {
        Log("Engine: " + where + " must be one {\"MessageName\": {fields}}; skipped");
        return nullptr;
    }
    const std::string kind = entry.begin().key();
    const json& fields = entry.begin().value();
    if (!fields.is_object()) {
        Log("Engine: " + where + ": \"" + kind + "\" must hold a JSON object; skipped");
        return nullptr;
    }
    FieldReader f(fields, where + " " + kind);
    std::shared_ptr<Message> message;
    if (kind == "ShowMenuMessage") {
        int type = 0;
        bool visible = true;
        f.Int("type", type);
        f.Bool("visible", visible);
        message = std::make_shared<ShowMenuMessage>(L"ObjectFactory", static_cast<eMENUTYPE>(type), visible);
    } else if (kind == "SetBackgroundColorMessage") {
        Vector3 color;
        f.Vec3("color", color);
        message = std::make_shared<SetBackgroundColorMessage>(L"ObjectFactory", color);
    } else if (kind == "PostSoundEventMessage") {
        std::uint32_t event = 0;
        if (!f.Unsigned("event", event)) {
            Log("Engine: " + where + ": PostSoundEventMessage needs \"event\"; skipped");
            return nullptr;
        }
        message = std::make_shared<PostSoundEventMessage>(L"ObjectFactory", event);
    } else {
        Log("Engine: " + where + ": unknown message \"" + kind + "\" skipped");
        return nullptr;
    }
    f.ReportUnknown();
    return message;
}

} // namespace

ComponentType ComponentTypeFromName(const std::string& className) {
#define ZURARI_COMPONENT_FROM_NAME(name, value)                                                              \
    if (className == #name) return ComponentType::name;
    ZURARI_COMPONENT_TYPES(ZURARI_COMPONENT_FROM_NAME)
#undef ZURARI_COMPONENT_FROM_NAME
    return ComponentType::None;
}

std::shared_ptr<Component> MakeComponent(ComponentType type) {
    switch (type) {
#define ZURARI_COMPONENT_MAKE(name, value)                                                                   \
    case ComponentType::name:                                                                                \
        return std::make_shared<name>();
        ZURARI_COMPONENT_TYPES(ZURARI_COMPONENT_MAKE)
#undef ZURARI_COMPONENT_MAKE
    case ComponentType::None:
        break;
    }
    return nullptr;
}

void ApplyFields(Component& component, const json& fields, const std::string& where) {
    const std::string context = where + " " + ComponentTypeName(component.GetComponentType());
    FieldReader f(fields, context);
    switch (component.GetComponentType()) {
    case ComponentType::Transform:
        ApplyTransform(static_cast<Transform&>(component), f);
        break;
    case ComponentType::RigidBody:
        ApplyRigidBody(static_cast<RigidBody&>(component), f);
        break;
    case ComponentType::Collider:
        ApplyCollider(static_cast<Collider&>(component), f, context);
        break;
    case ComponentType::Renderable:
        ApplyRenderable(static_cast<Renderable&>(component), f);
        break;
    case ComponentType::Camera:
        ApplyCamera(static_cast<Camera&>(component), f);
        break;
    case ComponentType::Light:
        ApplyLight(static_cast<Light&>(component), f, context);
        break;
    case ComponentType::Debug:
        ApplyDebug(static_cast<Debug&>(component), f);
        break;
    case ComponentType::PlayerStats:
        ApplyPlayerStats(static_cast<PlayerStats&>(component), f);
        break;
    case ComponentType::PickupComponent: {
        std::string type;
        if (f.String("type", type)) static_cast<PickupComponent&>(component).SetPickupType(type);
        break;
    }
    case ComponentType::GroupComponent: {
        std::string group;
        if (f.String("group", group)) static_cast<GroupComponent&>(component).SetGroupName(group);
        break;
    }
    case ComponentType::RoomComponent: {
        int room{};
        if (f.Int("room", room)) static_cast<RoomComponent&>(component).SetRoomID(room);
        break;
    }
    case ComponentType::Controller:
    case ComponentType::Spawner:
    case ComponentType::LevelRuleset:
    case ComponentType::PauseBehavior:
    case ComponentType::EscapePod:
    case ComponentType::None:
        break;
    }
    f.ReportUnknown();
}

namespace {

// The level's structure; false with the reason in `error`. Warnings go to the console as they come.
bool ReadLevelBody(const json& root, const std::string& where, LevelSpec& level, std::string& error) {
    for (auto it = root.begin(); it != root.end(); ++it)
        if (it.key() != "objects" && it.key() != "onLoad")
            Log("Engine: " + where + ": unknown field \"" + it.key() + "\" skipped");

    auto objects = root.find("objects");
    if (objects != root.end()) {
        if (!objects->is_array()) {
            error = where + ": \"objects\" must be a list";
            return false;
        }
        std::size_t index = 0;
        for (const json& entry : *objects) {
            ObjectSpec object;
            if (!ReadObject(entry, where + ": object " + std::to_string(index++), object, error))
                return false;
            level.objects.push_back(std::move(object));
        }
    }
    auto onLoad = root.find("onLoad");
    if (onLoad != root.end()) {
        if (!onLoad->is_array()) {
            error = where + ": \"onLoad\" must be a list";
            return false;
        }
        std::size_t index = 0;
        for (const json& entry : *onLoad) {
            auto message = ReadOnLoadMessage(entry, where + ": onLoad " + std::to_string(index++));
            if (message) level.onLoad.push_back(std::move(message));
        }
    }
    return true;
}

} // namespace

bool ReadLevel(const std::string& name, LevelSpec& level) {
    bool ok = false;
    const std::string text = ReadFile("level", name, "..\\..\\Resources\\Levels\\" + name + ".json", ok);
    json root;
    if (!ok || !ParseJson("level", name, text, root)) return false;

    LevelSpec result;
    std::string error;
    {
        // A rejected file gives its one error line and none of its warnings.
        LogDeferral warnings;
        ok = ReadLevelBody(root, "level \"" + name + "\"", result, error);
        if (ok) warnings.Flush();
    }
    if (!ok) {
        Log("Engine: " + error + "; nothing loaded");
        return false;
    }
    level = std::move(result);
    return true;
}

bool ReadArchetype(const std::string& name, ObjectSpec& object) {
    bool ok = false;
    const std::string text =
        ReadFile("archetype", name, "..\\..\\Resources\\Archetypes\\" + name + ".json", ok);
    json root;
    if (!ok || !ParseJson("archetype", name, text, root)) return false;
    ObjectSpec result;
    std::string error;
    const std::string where = "archetype \"" + name + "\"";
    {
        LogDeferral warnings;
        ok = ReadObject(root, where, result, error);
        // Archetyped objects are named after their archetype.
        if (ok && root.contains("name"))
            Log("Engine: " + where + ": \"name\" ignored; the object is named \"" + name + "\"");
        if (ok) warnings.Flush();
    }
    if (!ok) {
        Log("Engine: " + error + "; nothing loaded");
        return false;
    }
    object = std::move(result);
    return true;
}

} // namespace zurari
