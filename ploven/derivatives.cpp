#include "ploven/derivatives.hpp"

#include "numerics/parallel_blocks.hpp"

#include <algorithm>
#include <cstddef>

namespace ploven {

namespace {

// Patterns per block of score rows: large enough for an efficient matrix product, small
// enough to stay in cache.
constexpr int kBlockRows = 256;

} // namespace

double derivativesBytes(int nitem, int nclass, int workers) {
    const double P = (nclass - 1.0) + static_cast<double>(nitem) * nclass;
    // Two information matrices here, and the scaled copy, eigenvectors and workspace of the
    // quadratic model; per worker its sums (of the size of one matrix) and six blocks of score
    // rows.
    return 8.0 * (6.0 * P * P + workers * (P * P + 6.0 * kBlockRows * P));
}

namespace {

// Sums over the patterns, the item scores ordered class by class (beta_jk at k J + j):
// cross-products of the log-ratio scores (gg), of log-ratio and item scores (gb), of the item
// scores (bb, upper blocks only: class k with classes k..K-1), and per class
// sum f h_k a_jk a_j'k (within); the gradient; sum_i f_i h_ik (1 - h_ik), with 1 - h_ik summed
// from the other classes (no cancellation when h_ik is near 1), and N_k = sum_i f_i h_ik.
struct PatternSums {
    Eigen::MatrixXd gg, gb, bb;
    std::vector<Eigen::MatrixXd> within;
    Eigen::VectorXd gradG, gradB;
    std::vector<double> spread, classTotal;
    double cases = 0.0;

    PatternSums(int G, int J, int K)
        : gg(Eigen::MatrixXd::Zero(G, G)), gb(Eigen::MatrixXd::Zero(G, J * K)),
          bb(Eigen::MatrixXd::Zero(J * K, J * K)),
          within(static_cast<std::size_t>(K), Eigen::MatrixXd::Zero(J, J)),
          gradG(Eigen::VectorXd::Zero(G)), gradB(Eigen::VectorXd::Zero(J * K)),
          spread(static_cast<std::size_t>(K), 0.0), classTotal(static_cast<std::size_t>(K), 0.0) {}

    void clear() {
        gg.setZero();
        gb.setZero();
        bb.setZero();
        for (Eigen::MatrixXd& w : within) w.setZero();
        gradG.setZero();
        gradB.setZero();
        std::fill(spread.begin(), spread.end(), 0.0);
        std::fill(classTotal.begin(), classTotal.end(), 0.0);
        cases = 0.0;
    }

    void add(const PatternSums& o) {
        gg += o.gg;
        gb += o.gb;
        bb += o.bb;
        for (std::size_t k = 0; k < within.size(); ++k) within[k] += o.within[k];
        gradG += o.gradG;
        gradB += o.gradB;
        for (std::size_t k = 0; k < spread.size(); ++k) {
            spread[k] += o.spread[k];
            classTotal[k] += o.classTotal[k];
        }
        cases += o.cases;
    }
};

using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// A worker's sums and its rows of scores.
struct SumsWorker {
    PatternSums sums;
    RowMajor gs, gw; // log-ratio scores, weighted
    RowMajor bs, bw; // item scores, weighted
    RowMajor a, aw;  // a_ijk, and f h_k a_ijk

    SumsWorker(int G, int J, int K)
        : sums(G, J, K), gs(kBlockRows, G), gw(kBlockRows, G), bs(kBlockRows, J * K),
          bw(kBlockRows, J * K), a(kBlockRows, J * K), aw(kBlockRows, J * K) {}
};

// The patterns [begin, end) added to the worker's sums, kBlockRows rows of scores at a time.
void sumPatterns(const PatternTable& data, const Estimates& est, const std::vector<double>& h,
                 const Coordinates& c, int begin, int end, SumsWorker& w) {
    const int K = est.nclass;
    const int J = est.nitem;
    const std::vector<double>& eta = est.eta;
    PatternSums& t = w.sums;
    RowMajor &gs = w.gs, &gw = w.gw, &bs = w.bs, &bw = w.bw, &a = w.a, &aw = w.aw;
    for (int first = begin; first < end; first += kBlockRows) {
        const int rows = std::min(kBlockRows, end - first);
        for (int r = 0; r < rows; ++r) {
            const int i = first + r;
            const double f = data.freq[i];
            const double* hi = h.data() + static_cast<std::size_t>(i) * K;
            const std::uint8_t* x = data.row(i);
            t.cases += f;
            for (int m = 0; m < K; ++m) {
                t.classTotal[m] += f * hi[m];
                double others = 0.0;
                for (int l = 0; l < K; ++l)
                    if (l != m) others += hi[l];
                t.spread[m] += f * hi[m] * others;
                if (c.prior(m) < 0) continue;
                gs(r, c.prior(m)) = hi[m] - eta[m];
                gw(r, c.prior(m)) = f * gs(r, c.prior(m));
            }
            for (int k = 0; k < K; ++k) {
                for (int j = 0; j < J; ++j) {
                    const double p = est.PI(j, k);
                    const int at = k * J + j;
                    a(r, at) = x[j] ? 1.0 - p : -p;
                    bs(r, at) = hi[k] * a(r, at);
                    bw(r, at) = f * bs(r, at);
                    aw(r, at) = f * hi[k] * a(r, at);
                }
            }
        }
        const auto g = gs.topRows(rows), gW = gw.topRows(rows);
        const auto b = bs.topRows(rows), bW = bw.topRows(rows);
        t.gradG.noalias() += gW.colwise().sum().transpose();
        t.gradB.noalias() += bW.colwise().sum().transpose();
        t.gg.noalias() += gW.transpose() * g;
        t.gb.noalias() += gW.transpose() * b;
        for (int k = 0; k < K; ++k) {
            const int width = (K - k) * J;
            t.bb.block(k * J, k * J, J, width).noalias() +=
                bW.middleCols(k * J, J).transpose() * b.middleCols(k * J, width);
            t.within[k].noalias() += aw.topRows(rows).middleCols(k * J, J).transpose() *
                                     a.topRows(rows).middleCols(k * J, J);
        }
    }
}

} // namespace

Derivatives logitDerivatives(const PatternTable& data, const Estimates& est,
                             const std::vector<double>& h, const Coordinates& c,
                             const PatternLoops& loops) {
    const int K = est.nclass;
    const int J = est.nitem;
    const int P = c.size();
    const int G = K - 1; // log-ratios
    const auto npat = static_cast<std::size_t>(data.size());
    const std::vector<double>& eta = est.eta;

    // Blocks of whole rows of scores, so that data of one block sums as one loop does.
    const std::size_t blockSize =
        static_cast<std::size_t>(std::max(1, loops.blockPatterns) + kBlockRows - 1) / kBlockRows *
        kBlockRows;
    const int threads = numerics::threadsFor(loops.threads);
    std::vector<SumsWorker> workers;
    const int count = numerics::workersFor(npat, blockSize, threads);
    workers.reserve(static_cast<std::size_t>(count));
    for (int w = 0; w < count; ++w) workers.emplace_back(G, J, K);
    PatternSums total(G, J, K);
    numerics::forEachBlock(
        npat, blockSize, threads,
        [&](int worker, const numerics::Block& block) {
            SumsWorker& w = workers[static_cast<std::size_t>(worker)];
            w.sums.clear();
            sumPatterns(data, est, h, c, static_cast<int>(block.begin), static_cast<int>(block.end),
                        w);
        },
        [&](int worker, const numerics::Block&) {
            total.add(workers[static_cast<std::size_t>(worker)].sums);
        });
    const Eigen::MatrixXd &gg = total.gg, &gb = total.gb, &bb = total.bb;
    const std::vector<Eigen::MatrixXd>& within = total.within;
    const Eigen::VectorXd &gradG = total.gradG, &gradB = total.gradB;
    const std::vector<double>& spread = total.spread;
    const std::vector<double>& classTotal = total.classTotal;
    const double cases = total.cases;

    // Into the coordinates' order: log-ratios first, then beta_jk at (K - 1) + j K + k.
    std::vector<int> to(static_cast<std::size_t>(J * K));
    for (int k = 0; k < K; ++k)
        for (int j = 0; j < J; ++j) to[k * J + j] = c.item(j, k);
    Derivatives d;
    d.gradient = Eigen::VectorXd::Zero(P);
    Eigen::VectorXd& grad = d.gradient;
    Eigen::MatrixXd& opg = d.crossProduct;
    opg = Eigen::MatrixXd::Zero(P, P);
    grad.head(G) = gradG;
    for (int t = 0; t < J * K; ++t) grad(to[t]) = gradB(t);
    for (int m = 0; m < G; ++m)
        for (int n = 0; n < G; ++n) opg(m, n) = 0.5 * (gg(m, n) + gg(n, m));
    for (int m = 0; m < G; ++m)
        for (int t = 0; t < J * K; ++t) opg(m, to[t]) = opg(to[t], m) = gb(m, t);
    for (int k = 0; k < K; ++k)
        for (int l = k; l < K; ++l)
            for (int j = 0; j < J; ++j)
                for (int jj = 0; jj < J; ++jj) {
                    const int t = k * J + j, u = l * J + jj;
                    // Within a diagonal block both triangles were summed: take their mean.
                    const double v = l == k ? 0.5 * (bb(t, u) + bb(u, t)) : bb(t, u);
                    opg(to[t], to[u]) = opg(to[u], to[t]) = v;
                }

    d.completeDiagonal = Eigen::VectorXd::Zero(P);
    for (int m = 0; m < K; ++m)
        if (c.prior(m) >= 0) d.completeDiagonal(c.prior(m)) = cases * eta[m] * (1.0 - eta[m]);
    for (int j = 0; j < J; ++j)
        for (int k = 0; k < K; ++k) {
            const double p = est.PI(j, k);
            d.completeDiagonal(c.item(j, k)) = classTotal[k] * p * (1.0 - p);
        }

    // Observed information: the cross-product corrected block by block (see the header).
    Eigen::MatrixXd& obs = d.observed;
    obs = opg;
    for (int m = 0; m < K; ++m) {
        const int gm = c.prior(m);
        if (gm < 0) continue;
        for (int mm = m; mm < K; ++mm) {
            const int gmm = c.prior(mm);
            if (gmm < 0) continue;
            // N (delta ETA - ETA ETA') - sum f (delta h - h h'); off the diagonal the
            // cross-product sum f (h - ETA)(h' - ETA') gives sum f h h' with the gradient.
            obs(gm, gmm) = obs(gmm, gm) =
                m == mm ? cases * eta[m] * (1.0 - eta[m]) - spread[m]
                        : opg(gm, gmm) + eta[mm] * grad(gm) + eta[m] * grad(gmm);
        }
        for (int j = 0; j < J; ++j)
            for (int l = 0; l < K; ++l) {
                const int bl = c.item(j, l);
                // sum f h_m h_l a_jl = cross-product + ETA(m) G_jl.
                const double v = opg(gm, bl) + eta[m] * grad(bl) - (m == l ? grad(bl) : 0.0);
                obs(gm, bl) = obs(bl, gm) = v;
            }
    }
    for (int k = 0; k < K; ++k)
        for (int j = 0; j < J; ++j)
            for (int jj = j; jj < J; ++jj) {
                const int r = c.item(j, k), t = c.item(jj, k);
                obs(r, t) -= 0.5 * (within[k](j, jj) + within[k](jj, j));
                if (j == jj)
                    obs(r, t) += d.completeDiagonal(r);
                else
                    obs(t, r) = obs(r, t);
            }
    return d;
}

} // namespace ploven
