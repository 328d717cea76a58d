// The unrestricted latent class model for items with any number of categories (Goodman 1974,
// Biometrika 61, 215-231; the model of the R package poLCA, Linzer & Lewis 2011, Journal of
// Statistical Software 42(10)), with answers missing at random:
//   f_k(x) = prod_{j observed} P_j(x_j | k),   P(x) = sum_k eta_k f_k(x),
// so that a case's likelihood is the product over the items it answered (full information).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ploven {

// Answer rows of categorical items: category codes 1..C_j, 0 for a missing answer. Rows are the
// distinct patterns with their frequencies once folded (foldCategorical).
struct CategoricalData {
    int nitem = 0;
    std::vector<int> categories; // C_j, 2 or more
    std::vector<std::uint8_t> x; // x[i * nitem + j]
    std::vector<int> freq;       // frequency of row i

    int size() const { return static_cast<int>(freq.size()); }
    const std::uint8_t* row(int i) const {
        return x.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(nitem);
    }
    long long cases() const {
        long long n = 0;
        for (int f : freq) n += f;
        return n;
    }
};

// Folds equal rows into patterns (in order of first appearance); casePattern, when given,
// receives each input row's pattern.
CategoricalData foldCategorical(const CategoricalData& rows, std::vector<int>* casePattern);

// Class priors and class-conditional category probabilities.
struct CategoricalEstimates {
    int nitem = 0;
    int nclass = 0;
    std::vector<int> categories;     // C_j
    std::vector<std::size_t> offset; // item j's block in p: C_j x K values from offset[j]
    std::vector<double> p;           // p[offset[j] + k * C_j + c]: P(category c + 1 | class k)
    std::vector<double> eta;         // eta[k]

    void resize(const std::vector<int>& cats, int classes);
    std::size_t index(int j, int k, int c) const {
        return offset[static_cast<std::size_t>(j)] +
               static_cast<std::size_t>(k) * static_cast<std::size_t>(categories[j]) +
               static_cast<std::size_t>(c);
    }
    double P(int j, int k, int c) const { return p[index(j, k, c)]; }
    double& P(int j, int k, int c) { return p[index(j, k, c)]; }
};

// Free parameters: K - 1 priors and K (C_j - 1) probabilities per item.
long long categoricalParameters(const std::vector<int>& categories, int nclass);

} // namespace ploven
