// The matrix helpers beside glm on the same matrices in the same run: ns per multiply and per inverse.
#include <MatrixHelpers.h>

#include <benchmark/benchmark.h>
#include <glm/glm.hpp>

#include <cstring>
#include <vector>

namespace {

constexpr int kMatrices = 256;

// Rigid transforms with a little scale: invertible and well conditioned, like world matrices.
std::vector<Matrix4> Inputs() {
    std::vector<Matrix4> m;
    for (int i = 0; i < kMatrices; ++i) {
        Matrix4 t = Matrix4::rotationZYX(Vectormath::Aos::Vector3(0.01f * i, 0.02f * i, -0.03f * i));
        t.setCol(3, Vector4(float(i), float(-i) * 0.5f, 3.0f, 1.0f));
        t.setCol(0, t.getCol0() * 1.5f);
        m.push_back(t);
    }
    return m;
}

std::vector<glm::mat4> AsGlm(const std::vector<Matrix4>& in) {
    // Both are column-major sixteen floats.
    std::vector<glm::mat4> out(in.size());
    for (std::size_t i = 0; i < in.size(); ++i)
        std::memcpy(static_cast<void*>(&out[i]), &in[i], sizeof(glm::mat4));
    return out;
}

void MatrixHelpersMultiply(benchmark::State& state) {
    const std::vector<Matrix4> m = Inputs();
    Matrix4 out;
    std::size_t i = 0;
    for (auto _ : state) {
        MultiplyMatrix(m[i % kMatrices], out, m[(i + 1) % kMatrices]);
        benchmark::DoNotOptimize(out);
        ++i;
    }
}

void GlmMultiply(benchmark::State& state) {
    const std::vector<glm::mat4> m = AsGlm(Inputs());
    glm::mat4 out;
    std::size_t i = 0;
    for (auto _ : state) {
        out = m[i % kMatrices] * m[(i + 1) % kMatrices];
        benchmark::DoNotOptimize(out);
        ++i;
    }
}

void MatrixHelpersInverse(benchmark::State& state) {
    const std::vector<Matrix4> m = Inputs();
    Matrix4 out;
    std::size_t i = 0;
    for (auto _ : state) {
        InvertMatrix(out, m[i % kMatrices]);
        benchmark::DoNotOptimize(out);
        ++i;
    }
}

void GlmInverse(benchmark::State& state) {
    const std::vector<glm::mat4> m = AsGlm(Inputs());
    glm::mat4 out;
    std::size_t i = 0;
    for (auto _ : state) {
        out = glm::inverse(m[i % kMatrices]);
        benchmark::DoNotOptimize(out);
        ++i;
    }
}

} // namespace

BENCHMARK(MatrixHelpersMultiply)->Name("MatrixHelpers/Multiply");
BENCHMARK(GlmMultiply)->Name("MatrixHelpers/Multiply_glm");
BENCHMARK(MatrixHelpersInverse)->Name("MatrixHelpers/Inverse");
BENCHMARK(GlmInverse)->Name("MatrixHelpers/Inverse_glm");

BENCHMARK_MAIN();
