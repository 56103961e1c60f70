// Skinned, lit texture. Bone and inverse bind matrices are written row by row from the model file's
// matrices, so each reads here as a column-vector transform.
#include "scene_common.fxh"

cbuffer SkinnedBuffer : register(b3)
{
    float4x4 bones[100];
    float4x4 inverseBindPoses[100];
};

PixelIn VS(VertexIn input)
{
    float4x4 skin = (float4x4)0;
    float weightSum = 0.0f;
    for (int k = 0; k < 4; ++k)
    {
        uint index = input.boneIndices[k];
        float w = input.boneWeights[k];
        if (w == 0.0f || index >= 100)
            continue;
        skin += w * mul(bones[index], inverseBindPoses[index]);
        weightSum += w;
    }
    float4 position = input.position;
    float3 normal = input.normal;
    if (weightSum > 0.0f)
    {
        position = mul(skin, position);
        normal = mul(skin, float4(normal, 0.0f)).xyz;
    }
    return SceneVertex(position, normal, input);
}

float4 PS(PixelIn input) : SV_TARGET
{
    float4 base = texture0.Sample(sampler0, input.uv) * objectColor;
    return float4(base.rgb * Lighting(input), base.a);
}
