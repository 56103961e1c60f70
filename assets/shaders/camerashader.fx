// Shows a camera's picture over the whole viewport; the composition passes the identity as combined.
cbuffer ObjectBuffer : register(b0)
{
    float4x4 combined;
};

Texture2D cameraTexture : register(t0);
SamplerState cameraSampler : register(s0);

struct VertexIn
{
    float4 position : POSITION;
    float2 uv : TEXCOORD;
};

struct PixelIn
{
    float4 position : SV_POSITION;
    float2 uv : TEXCOORD0;
};

PixelIn VS(VertexIn input)
{
    PixelIn output;
    output.position = mul(input.position, combined);
    output.uv = input.uv;
    return output;
}

float4 PS(PixelIn input) : SV_TARGET
{
    return cameraTexture.Sample(cameraSampler, input.uv);
}
