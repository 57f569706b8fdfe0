// Costs of the operations that run on every main-loop pass.
#include "core/fixed_point.h"
#include "core/util.h"

#include <benchmark/benchmark.h>

namespace {

void BM_fprMul(benchmark::State &state) {
    fpr_t a = 172442;
    fpr_t b = 14745;
    fpr_t r = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(fprMul(a, b, &r));
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_fprMul);

void BM_fprDiv(benchmark::State &state) {
    fpr_t a = 172442;
    fpr_t b = 14745;
    fpr_t r = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(fprDiv(a, b, &r));
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_fprDiv);

void BM_util_check_expiration(benchmark::State &state) {
    UtilTimer t{};
    util_set_expiration(&t, 60000);
    for (auto _ : state) {
        benchmark::DoNotOptimize(util_check_expiration(&t));
    }
}
BENCHMARK(BM_util_check_expiration);

} // namespace
