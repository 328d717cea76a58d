#include "ploven/simulate.hpp"

#include "fixedio/layout.hpp"
#include "numerics/parallel_blocks.hpp"
#include "ploven/em.hpp"
#include "ploven/patterns.hpp"

#include <algorithm>
#include <cmath>

namespace ploven {

namespace {

// Every sample's refit may use this many cycles, whatever the deck said.
constexpr int kSampleCycleCap = 5000;

// A sample's refit: its estimates, or the error that ended it.
struct SampleFit {
    ErrorCode error = ErrorCode::None;
    Estimates est;
};

std::string pairLines(const std::vector<double>& mean, const std::vector<double>& sd, int from,
                      int count) {
    static const fixedio::Layout pairs("5X 9*(1X F8.6 '(' F8.6 ')')");
    std::vector<fixedio::Value> values;
    for (int k = 0; k < count; ++k) {
        values.emplace_back(mean[from + k]);
        values.emplace_back(sd[from + k]);
    }
    return pairs.format(values);
}

} // namespace

std::vector<long long> classSizes(long long ncase, const std::vector<double>& eta) {
    const int K = static_cast<int>(eta.size());
    std::vector<long long> sizes(eta.size(), 0);
    long long used = 0;
    for (int k = 0; k + 1 < K; ++k) {
        sizes[k] = static_cast<long long>(static_cast<double>(ncase) * eta[k]);
        used += sizes[k];
    }
    // Priors that add up to a hair above 1 must not leave the last class negative.
    if (K > 0) sizes[K - 1] = used < ncase ? ncase - used : 0;
    return sizes;
}

PatternTable simulateResponses(long long ncase, const Estimates& model, UniformSource& uniform,
                               std::vector<long long>* sizes) {
    const std::vector<long long> n = classSizes(ncase, model.eta);
    if (sizes) *sizes = n;
    const int P = model.nitem;
    PatternTable rows;
    rows.nitem = P;
    rows.freq.assign(static_cast<std::size_t>(ncase), 1);
    rows.x.resize(static_cast<std::size_t>(ncase) * static_cast<std::size_t>(P));
    std::uint8_t* x = rows.x.data();
    long long row = 0;
    for (int k = 0; k < model.nclass; ++k) {
        for (long long c = 0; c < n[k] && row < ncase; ++c, ++row) {
            for (int j = 0; j < P; ++j)
                *x++ = model.PI(j, k) > static_cast<double>(uniform.next()) ? 1 : 0;
        }
    }
    return rows;
}

double studyBytes(int nsim, int nitem, int nclass, long long ncase, int threads) {
    // Every sample's estimates as doubles, and as F5.3 fields of ETAS.OUT and PIS.OUT.
    const double values = (static_cast<double>(nitem) + 1.0) * static_cast<double>(nclass);
    const double kept = static_cast<double>(nsim) * values * (sizeof(double) + 5.0);
    // A batch of samples in the making: each drawn case by case (responses, frequency), folded
    // (at most as many patterns) and fitted (sampleFitBytes).
    const double batch = threads <= 1 ? 1.0 : 2.0 * threads;
    const double drawn = static_cast<double>(ncase) * (nitem + sizeof(int));
    return kept + batch * (2.0 * drawn + sampleFitBytes(ncase, nitem, nclass));
}

StudyResult study(const Estimates& model, long long ncase, double tol, int nsim, bool printSamples,
                  const FitMethod& method, const SampleProgress& progress) {
    static const fixedio::Layout piTitle("/ '     ESTIMATED PI-MATRIX:'");
    static const fixedio::Layout etaTitle("/ '     ESTIMATED ETA-VECTOR:'");
    static const fixedio::Layout sampleLine("5X 10*(F9.6)");
    static const fixedio::Layout fileLine("40*(F5.3)");

    const int K = model.nclass;
    const int P = model.nitem;
    const auto perSample = static_cast<std::size_t>(P) * K;
    StudyResult result;
    UniformSource uniform;
    std::vector<double> etas;
    std::vector<double> pis;
    std::vector<fixedio::Value> values;

    // Samples are drawn one after the other from the one stream, a batch at a time, and the
    // batch is refitted on the threads, one sample per thread; the results are then taken in
    // sample order, so the study reads as if every sample had been drawn and fitted in turn.
    const int threads = numerics::threadsFor(method.loops.threads);
    FitMethod sampleMethod = method;
    sampleMethod.loops.threads = 1;
    const int batch = threads == 1 ? 1 : 2 * threads;
    std::vector<PatternTable> samples;
    std::vector<SampleFit> fits;
    for (int first = 0; first < nsim; first += batch) {
        const int count = std::min(batch, nsim - first);
        samples.resize(static_cast<std::size_t>(count));
        fits.assign(static_cast<std::size_t>(count), SampleFit{});
        for (PatternTable& sample : samples)
            sample = foldPatterns(simulateResponses(ncase, model, uniform));
        numerics::forEachBlock(
            static_cast<std::size_t>(count), 1, threads,
            [&](int, const numerics::Block& b) {
                SampleFit& fit = fits[b.index];
                Posteriors post;
                FitCheck check;
                fit.error = fitFromBands(samples[b.index], K, ncase, tol, kSampleCycleCap,
                                         sampleMethod, fit.est, post, check)
                                .error;
            },
            [](int, const numerics::Block&) {});
        for (int b = 0; b < count; ++b) {
            const int s = first + b;
            const Estimates& sample = fits[static_cast<std::size_t>(b)].est;
            const ErrorCode error = fits[static_cast<std::size_t>(b)].error;
            if (error != ErrorCode::None) {
                result.error = error;
                result.report +=
                    fixedio::freeLine({"*** PROGRAM TERMINATED IN ERROR *** ", errorNumber(error)});
                return result;
            }
            if (printSamples) {
                result.report += piTitle.format({});
                for (int j = 0; j < P; ++j) {
                    values.assign(sample.pi.begin() + static_cast<std::ptrdiff_t>(j) * K,
                                  sample.pi.begin() + static_cast<std::ptrdiff_t>(j + 1) * K);
                    result.report += sampleLine.format(values);
                }
                result.report += etaTitle.format({});
                values.assign(sample.eta.begin(), sample.eta.end());
                result.report += sampleLine.format(values);
            }
            etas.insert(etas.end(), sample.eta.begin(), sample.eta.end());
            pis.insert(pis.end(), sample.pi.begin(), sample.pi.end());
            const int every = std::max(1, nsim / 1000);
            if (progress && ((s + 1) % every == 0 || s + 1 == nsim)) progress(s + 1, nsim);
        }
    }

    for (int s = 0; s < nsim; ++s) {
        values.assign(etas.begin() + static_cast<std::ptrdiff_t>(s) * K,
                      etas.begin() + static_cast<std::ptrdiff_t>(s + 1) * K);
        result.etas += fileLine.format(values);
        values.assign(pis.begin() + static_cast<std::ptrdiff_t>(s * perSample),
                      pis.begin() + static_cast<std::ptrdiff_t>((s + 1) * perSample));
        result.pis += fileLine.format(values);
    }

    // Mean and standard deviation over the samples, parameters laid out as one sample is.
    auto summarise = [&](const std::vector<double>& store, std::size_t width,
                         std::vector<double>& mean, std::vector<double>& sd) {
        mean.assign(width, 0.0);
        sd.assign(width, 0.0);
        for (std::size_t c = 0; c < width; ++c) {
            double sum = 0.0;
            for (int s = 0; s < nsim; ++s) sum += store[s * width + c];
            mean[c] = (1.0 / nsim) * sum;
            double squares = 0.0;
            for (int s = 0; s < nsim; ++s) {
                const double d = store[s * width + c] - mean[c];
                squares += d * d;
            }
            sd[c] = std::sqrt((1.0 / (nsim - 1)) * squares);
        }
    };
    std::vector<double> piMean, piSd, etaMean, etaSd;
    summarise(pis, perSample, piMean, piSd);
    summarise(etas, static_cast<std::size_t>(K), etaMean, etaSd);

    static const fixedio::Layout heading("/ 5X 'SIMULATION RESULTS'");
    static const fixedio::Layout piHeading(
        "/ 5X 'ON THE PROBABILITIES OF POSITIVE RESPONSES (PIS)'");
    static const fixedio::Layout etaHeading("/ 5X 'ON THE PRIOR PROBABILITIES (ETAS)'");
    static const fixedio::Layout total("/ 5X 'TOTAL SIMULATIONS: ' I6");
    result.report += heading.format({});
    result.report += piHeading.format({});
    for (int j = 0; j < P; ++j) result.report += pairLines(piMean, piSd, j * K, K);
    result.report += etaHeading.format({});
    result.report += pairLines(etaMean, etaSd, 0, K);
    result.report += total.format({nsim});
    return result;
}

} // namespace ploven
