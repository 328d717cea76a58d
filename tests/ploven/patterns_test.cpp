#include "helpers.hpp"

#include <random>

using ploven::PatternTable;

namespace {

// The folding as first defined: quadratic, on 1-based rows, compacted afterwards.
PatternTable quadraticFold(const PatternTable& cases) {
    const int n = cases.size();
    std::vector<int> freq(n + 1, 1);
    std::vector<std::vector<std::uint8_t>> x(n + 1);
    for (int i = 1; i <= n; ++i) x[i].assign(cases.row(i - 1), cases.row(i - 1) + cases.nitem);
    int npat = 0;
    for (int i = 1; i <= n - 1; ++i) {
        if (freq[i] == 0) continue;
        ++npat;
        for (int m = i + 1; m <= n; ++m)
            if (freq[m] != 0 && x[m] == x[i]) ++freq[i], freq[m] = 0;
    }
    if (freq[n] == 1) ++npat;
    if (npat != n) {
        int next = 2;
        for (int i = 2; i <= n; ++i)
            if (freq[i] != 0) x[next] = x[i], freq[next++] = freq[i];
    }
    PatternTable out{cases.nitem, {}, std::vector<int>(freq.begin() + 1, freq.begin() + 1 + npat)};
    for (int i = 1; i <= npat; ++i) out.x.insert(out.x.end(), x[i].begin(), x[i].end());
    return out;
}

// The heapsort index sort as first written, 1-based, with its labels as loops.
std::vector<int> literalIndexx(const std::vector<int>& arrin) {
    const int n = static_cast<int>(arrin.size());
    std::vector<int> indx(n + 1);
    for (int j = 1; j <= n; ++j) indx[j] = j;
    auto arr = [&](int i) { return arrin[i - 1]; };
    int l = n / 2 + 1, ir = n, indxt, q, i, j;
    for (;;) { // label 10
        if (l > 1) {
            l = l - 1;
            indxt = indx[l];
            q = arr(indxt);
        } else {
            indxt = indx[ir];
            q = arr(indxt);
            indx[ir] = indx[1];
            ir = ir - 1;
            if (ir == 1) {
                indx[1] = indxt;
                break;
            }
        }
        i = l;
        j = l + l;
        while (j <= ir) { // label 20
            if (j < ir && arr(indx[j]) < arr(indx[j + 1])) j = j + 1;
            if (q < arr(indx[j])) {
                indx[i] = indx[j];
                i = j;
                j = j + j;
            } else {
                j = ir + 1;
            }
        }
        indx[i] = indxt;
    }
    std::vector<int> zeroBased;
    for (int k = 1; k <= n; ++k) zeroBased.push_back(indx[k] - 1);
    return zeroBased;
}

} // namespace

TEST(Countwo, SameAsTheQuadraticFolding) {
    PatternTable small;
    small.nitem = 3;
    small.x = {1, 0, 1, 0, 0, 0, 1, 0, 1};
    small.freq = {1, 1, 1};
    PatternTable folded = ploven::foldPatterns(small);
    EXPECT_EQ(folded.freq, (std::vector<int>{2, 1}));
    EXPECT_EQ(folded.x, (std::vector<std::uint8_t>{1, 0, 1, 0, 0, 0}));

    std::mt19937 g(5);
    for (int nitem : {1, 3, 8, 64, 70}) {
        for (int ncase : {1, 2, 17, 400}) {
            PatternTable cases;
            cases.nitem = nitem;
            cases.freq.assign(ncase, 1);
            // Few items, or items mostly 0: many repeats; otherwise mostly distinct rows.
            for (int i = 0; i < ncase * nitem; ++i) cases.x.push_back(g() % 7 == 0 ? 1 : 0);
            std::vector<int> patternOf;
            const PatternTable fast = ploven::foldPatterns(cases, &patternOf);
            const PatternTable slow = quadraticFold(cases);
            EXPECT_EQ(fast.freq, slow.freq) << nitem << " items, " << ncase << " cases";
            EXPECT_EQ(fast.x, slow.x) << nitem << " items, " << ncase << " cases";
            for (int i = 0; i < ncase; ++i)
                ASSERT_TRUE(std::equal(cases.row(i), cases.row(i) + nitem, fast.row(patternOf[i])));
        }
    }
}

TEST(Indexx, SameOrderAsTheHeapsortWithTies) {
    EXPECT_TRUE(ploven::heapsortIndex(std::vector<int>{}).empty());
    EXPECT_EQ(ploven::heapsortIndex(std::vector<int>{4}), std::vector<int>{0});
    std::mt19937 g(9);
    for (int n : {2, 3, 5, 6, 31, 200}) {
        for (int range : {2, 5, 1000}) {
            std::vector<int> keys;
            for (int i = 0; i < n; ++i) keys.push_back(static_cast<int>(g() % range));
            const std::vector<int> indx = ploven::heapsortIndex(keys);
            EXPECT_EQ(indx, literalIndexx(keys)) << n << " keys below " << range;
            for (int i = 1; i < n; ++i) EXPECT_LE(keys[indx[i - 1]], keys[indx[i]]);
        }
    }
}
