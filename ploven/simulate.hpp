// Parametric bootstrap of a fitted latent class model (Efron & Tibshirani 1993, An
// Introduction to the Bootstrap, ch. 6): samples of the same size drawn from the estimated
// model (`simulateResponses`), folded, refitted; their estimates kept, written out and
// summarised by their mean and standard deviation, which estimate the sampling distribution
// of the estimates where the asymptotic standard errors are doubtful.
#pragma once

#include "ploven/certify.hpp"
#include "ploven/model.hpp"

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace ploven {

// Uniform numbers in [0, 1) in single precision from a 32-bit Mersenne Twister
// (std::mt19937) with its default seed, never reseeded: every run draws the same sequence.
// A draw keeps the top 24 bits of the generator's output and scales them by 2^-24, which is
// exact in single precision, so the largest value is 1 - 2^-24 and 1.0 never occurs.
class UniformSource {
  public:
    float next() { return unit(static_cast<std::uint32_t>(generator_())); }

    // The single-precision value of one 32-bit draw.
    static float unit(std::uint32_t bits) { return static_cast<float>(bits >> 8) * 0x1p-24f; }

  private:
    std::mt19937 generator_;
};

// Cases per class for a sample of ncase: ncase * ETA(k) truncated for all classes but the
// last, which takes the rest.
std::vector<long long> classSizes(long long ncase, const std::vector<double>& eta);

// Draws ncase case rows from the model, class after class; a response is 1 when PI(j,k)
// exceeds the uniform drawn for it. Rows carry frequency 1.
PatternTable simulateResponses(long long ncase, const Estimates& model, UniformSource& uniform,
                               std::vector<long long>* sizes = nullptr);

struct StudyResult {
    ErrorCode error = ErrorCode::None; // the estimation error that ended the study, if any
    std::string report;                // lines appended to the report
    std::string etas;                  // contents of ETAS.OUT
    std::string pis;                   // contents of PIS.OUT
};

// Bytes the study holds at its peak for nsim samples of ncase cases of a model of nitem items
// and nclass classes on the given threads: every sample's estimates, and the batch of samples
// being drawn and refitted (2 x threads samples, one when threads is 1).
double studyBytes(int nsim, int nitem, int nclass, long long ncase = 0, int threads = 1);

// Called after sample s (1-based) of nsim is refitted, at most about a thousand times a study.
using SampleProgress = std::function<void(int s, int nsim)>;

// nsim samples of ncase cases each, refitted from the band start as the main fit is (method;
// with several threads the samples are drawn in turn and refitted side by side, one per thread),
// each to a certified maximum, with tol and a cap of 5000 cycles and Newton steps (nsim >= 2).
// printSamples lists every sample's estimates in the report.
StudyResult study(const Estimates& model, long long ncase, double tol, int nsim, bool printSamples,
                  const FitMethod& method = {}, const SampleProgress& progress = {});

} // namespace ploven
