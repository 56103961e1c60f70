// Lit vertex colour: procedural and debug models carry their colour in the vertices.
#include "scene_common.fxh"

PixelIn VS(VertexIn input)
{
    return SceneVertex(input.position, input.normal, input);
}

float4 PS(PixelIn input) : SV_TARGET
{
    float4 base = texture0.Sample(sampler0, input.uv) * objectColor * input.color;
    return float4(base.rgb * Lighting(input), base.a);
}
