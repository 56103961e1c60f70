// The user interface: pixel coordinates through an orthographic matrix, colour times the font texture.
cbuffer vertexBuffer : register(b0)
{
    float4x4 ProjectionMatrix;
};

struct VertexIn
{
    float2 pos : POSITION;
    float2 uv : TEXCOORD0;
    float4 col : COLOR0;
};

struct PixelIn
{
    float4 pos : SV_POSITION;
    float4 col : COLOR0;
    float2 uv : TEXCOORD0;
};

PixelIn VS(VertexIn input)
{
    PixelIn output;
    output.pos = mul(ProjectionMatrix, float4(input.pos.xy, 0.0f, 1.0f));
    output.col = input.col;
    output.uv = input.uv;
    return output;
}

Texture2D texture0 : register(t0);
SamplerState sampler0 : register(s0);

float4 PS(PixelIn input) : SV_TARGET
{
    return input.col * texture0.Sample(sampler0, input.uv);
}
