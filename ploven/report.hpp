// The report lines the run writes itself (the estimation, fit and classification parts write
// their own sections).
#pragma once

#include "ploven/certify.hpp"
#include "ploven/fit.hpp"
#include "ploven/model.hpp"
#include "ploven/standard_errors.hpp"

#include <span>
#include <string>

namespace ploven::report {

std::string head(const std::string& title, int nclass, int nitem);
std::string nonBinary(int record, int item, int value);
std::string sumMismatch(long long sum, long long ncase);
std::string numberOfCases(long long ncase);
// The report line of an estimation error 2000 to 2300.
std::string estimationError(ErrorCode error);
std::string observedPatterns(const PatternTable& patterns);

// Estimates: one line per item, then the priors line; with standard errors (se.ok) as pairs.
std::string piMatrix(const Estimates& est, const StandardErrors* se);
std::string etaVector(const Estimates& est, const StandardErrors* se);
// The same estimates as plain lines for LATC9.OUT.
std::string piLines(const Estimates& est);
std::string etaLine(const Estimates& est);

// The tiny-class warning when some prior is below 0.03, else nothing.
std::string tinyClasses(const Estimates& est);
std::string likelihood(double loglik, double change, int iterations);
std::string posteriors(const Posteriors& post, int npat);
std::string fullTable(const FitStatistics& full, int nitem, int nclass);
std::string grouped(const FitStatistics& pooled, int npat, int nitem, int nclass);
std::string summary(const PatternTable& patterns, std::span<const double> expf,
                    std::span<const int> iclass, long long ncase, double expectedTotal);

// The block on the convergence check of the reported solution.
std::string convergenceCheck(const FitCheck& check);

// The legend of a run from a CSV file (its lines), after the head.
std::string legend(std::span<const std::string> lines);

// The warnings before the notes (the data or the model are probably not what was meant), or
// nothing when there are none: a heading, then each warning on a line of its own, as
// data_checks.hpp's reportWarning words it.
std::string warnings(std::span<const std::string> lines);

// The notes that close the report (what the run did to the input), or nothing when there are
// none: a heading, then each note on a line of its own.
std::string notes(std::span<const std::string> lines);

// LATC9.OUT: the title line and the counts line.
std::string titleLine(const std::string& title);
std::string countsLine(int nclass, int nitem, int npat);

} // namespace ploven::report
