// Constant buffers and lighting shared by the scene shaders. Matrices are packed column-major.
cbuffer ObjectBuffer : register(b0)
{
    float4x4 combined;     // row-vector clip transform: clip = mul(position, combined)
    float4x4 world;        // column-vector world transform
    float4x4 inverseWorld; // normal transform for column vectors
    float4x4 view;
    float4x4 projection;
    float4 cameraPosition;
    float4 cameraLookAt;
};

struct Material
{
    float3 ambient;
    float3 diffuse;
    float4 specular; // rgb and shininess
};

cbuffer MatrixBuffer : register(b1)
{
    Material materials[4];
    float4 objectColor;
};

struct LightRecord
{
    float3 diffuse;
    int type; // 0 directional, 1 point, 2 spot
    float3 specular;
    float intensity;
    float3 direction;
    float range;
    float falloff;
    float innerAngle; // degrees
    float outerAngle; // degrees
    float pad;
};

cbuffer LightingBuffer : register(b2)
{
    LightRecord lights[128];
    float4 lightPositions[128];
    float3 ambientColor;
    uint lightCount;
};

Texture2D texture0 : register(t0);
SamplerState sampler0 : register(s0);

struct VertexIn
{
    float4 position : POSITION;
    float4 color : COLOR;
    float3 normal : NORMAL;
    float2 uv : TEXCOORD;
    uint4 boneIndices : BLENDINDICES;
    float4 boneWeights : BLENDWEIGHT;
    uint materialIndex : TEXTUREINDEX;
};

struct PixelIn
{
    float4 position : SV_POSITION;
    float3 worldPosition : POSITION1;
    float3 normal : NORMAL;
    float2 uv : TEXCOORD0;
    float4 color : COLOR;
    float3 toCamera : TEXCOORD1;
    nointerpolation uint materialIndex : TEXTUREINDEX;
};

PixelIn SceneVertex(float4 position, float3 normal, VertexIn input)
{
    PixelIn output;
    output.position = mul(position, combined);
    float4 worldPosition = mul(world, position);
    output.worldPosition = worldPosition.xyz;
    output.normal = mul(inverseWorld, float4(normal, 0.0f)).xyz;
    output.uv = input.uv;
    output.color = input.color;
    output.toCamera = cameraPosition.xyz - worldPosition.xyz;
    output.materialIndex = input.materialIndex;
    return output;
}

// Ambient plus every light's diffuse and specular terms; geometry without normals is unlit.
float3 Lighting(PixelIn input)
{
    if (dot(input.normal, input.normal) <= 1e-20f)
        return float3(1.0f, 1.0f, 1.0f);
    float3 n = normalize(input.normal);
    float3 toEye = normalize(input.toCamera);
    Material m = materials[min(input.materialIndex, 3)];
    float3 lit = ambientColor * m.ambient;
    for (uint i = 0; i < min(lightCount, 128); ++i)
    {
        LightRecord l = lights[i];
        float3 L;
        float attenuation = 1.0f;
        if (l.type == 0)
        {
            L = -normalize(l.direction);
        }
        else
        {
            float3 d = lightPositions[i].xyz - input.worldPosition;
            float dist = length(d);
            if (dist >= l.range || dist <= 1e-6f)
                continue;
            L = d / dist;
            attenuation = pow(1.0f - dist / l.range, l.falloff);
            if (l.type == 2)
            {
                float c = -dot(L, normalize(l.direction));
                float cosOuter = cos(radians(l.outerAngle));
                float cosInner = cos(radians(l.innerAngle));
                if (c <= cosOuter)
                    continue;
                if (c < cosInner)
                    attenuation *= (c - cosOuter) / (cosInner - cosOuter);
            }
        }
        float ndl = dot(n, L);
        if (ndl <= 0.0f)
            continue;
        float3 h = L + toEye;
        float spec = dot(h, h) > 1e-20f ? pow(max(dot(n, normalize(h)), 0.0f), m.specular.w) : 0.0f;
        lit += l.intensity * attenuation * (m.diffuse * l.diffuse * ndl + m.specular.rgb * l.specular * spec);
    }
    return lit;
}
