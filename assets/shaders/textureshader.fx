// Lit texture: the model loader's meshes.
#include "scene_common.fxh"

PixelIn VS(VertexIn input)
{
    return SceneVertex(input.position, input.normal, input);
}

float4 PS(PixelIn input) : SV_TARGET
{
    float4 base = texture0.Sample(sampler0, input.uv) * objectColor;
    return float4(base.rgb * Lighting(input), base.a);
}
