#include "travik/parameter_vector.hpp"

#include "travik/identification.hpp"
#include "travik/mstep.hpp"

#include <cmath>

namespace travik {

ParameterLayout parameterLayout(const Deck& d) {
    ParameterLayout l;
    const int nf = d.nf;
    int at = 0;
    for (int i = 0; i < d.nb; ++i, at += nf + 1) l.binary.push_back(at);
    for (int i = 0; i < d.nn; ++i, at += nf + 2) l.normal.push_back(at);
    for (int i = 0; i < d.nc; ++i) {
        l.nominal.push_back(at);
        at += (d.c[i] - 1) * (nf + 1);
        l.nominalCategories += d.c[i] - 1;
    }
    for (int i = 0; i < d.no; ++i) {
        l.ordinal.push_back(at);
        at += d.o[i] - 1 + nf;
    }
    l.count = at;
    return l;
}

std::vector<std::string> parameterNames(const Deck& d) {
    const int nf = d.nf;
    std::vector<std::string> names;
    auto item = [](const char* type, int i) {
        return std::string(type) + " item " + std::to_string(i + 1) + "'s ";
    };
    auto term = [](int m) {
        return m == 0 ? std::string("intercept") : "loading " + std::to_string(m);
    };
    for (int i = 0; i < d.nb; ++i)
        for (int m = nf; m >= 0; --m) names.push_back(item("binary", i) + term(m));
    for (int i = 0; i < d.nn; ++i) {
        names.push_back(item("normal", i) + "mean");
        for (int f = 1; f <= nf; ++f) names.push_back(item("normal", i) + term(f));
        names.push_back(item("normal", i) + "residual variance");
    }
    for (int i = 0; i < d.nc; ++i)
        for (int j = 2; j <= d.c[i]; ++j)
            for (int m = 0; m <= nf; ++m)
                names.push_back(item("nominal", i) + "category " + std::to_string(j) + " " +
                                term(m));
    for (int i = 0; i < d.no; ++i) {
        for (int j = 1; j < d.o[i]; ++j)
            names.push_back(item("ordinal", i) + "threshold " + std::to_string(j));
        for (int f = 1; f <= nf; ++f) names.push_back(item("ordinal", i) + term(f));
    }
    return names;
}

namespace {

// Walks every parameter in vector order, handing a reference to visit.
template <class P, class Visit> void eachParameter(const Deck& d, P& p, Visit visit) {
    const int nf = d.nf;
    for (int i = 0; i < d.nb; ++i)
        for (int m = nf; m >= 0; --m) visit(p.binary[i].alpha[m]);
    for (int i = 0; i < d.nn; ++i) {
        auto& n = p.normal[i];
        visit(n.mu);
        visit(n.lambda1);
        if (nf == 2) visit(n.lambda2);
        visit(n.psi);
    }
    for (int i = 0; i < d.nc; ++i)
        for (int j = 2; j <= d.c[i]; ++j)
            for (int m = 0; m <= nf; ++m) visit(p.nominal[i].ac[j][m]);
    for (int i = 0; i < d.no; ++i) {
        for (int j = 1; j < d.o[i]; ++j) visit(p.ordinal[i].thr[j]);
        for (int f = 1; f <= nf; ++f) visit(p.ordinal[i].ao[f]);
    }
}

} // namespace

std::vector<double> packParameters(const Deck& d, const Parameters& p) {
    std::vector<double> v;
    eachParameter(d, p, [&](const double& x) { v.push_back(x); });
    return v;
}

void unpackParameters(const Deck& d, const std::vector<double>& v, Parameters& p) {
    std::size_t at = 0;
    eachParameter(d, p, [&](double& x) { x = v[at++]; });
}

std::vector<char> movingParameters(const Deck& d, const Parameters& p) {
    const ParameterLayout l = parameterLayout(d);
    std::vector<char> moving(l.count, 1);
    const int nf = d.nf;
    for (int i = 0; i < d.nb; ++i)
        if (!belowFrozen(p.binary[i].alpha, nf))
            for (int m = 0; m <= nf; ++m) moving[l.binaryAt(nf, i, m)] = 0;
    for (int i = 0; i < d.nc; ++i)
        for (int j = 2; j <= d.c[i]; ++j)
            if (!belowFrozen(p.nominal[i].ac[j], nf))
                for (int m = 0; m <= nf; ++m) moving[l.nominal[i] + (j - 2) * (nf + 1) + m] = 0;
    const int fixed = fixedLoadingPosition(d, l);
    if (fixed >= 0) moving[fixed] = 0;
    return moving;
}

bool insideModel(const Parameters& p) {
    auto finite = [](const auto& values) {
        for (double v : values)
            if (!std::isfinite(v)) return false;
        return true;
    };
    for (const BinaryItem& b : p.binary)
        if (!finite(b.alpha)) return false;
    for (const NormalItem& n : p.normal)
        if (!std::isfinite(n.mu) || !std::isfinite(n.lambda1) || !std::isfinite(n.lambda2) ||
            !(n.psi > 0.0) || !std::isfinite(n.psi))
            return false;
    for (const NominalItem& c : p.nominal)
        for (const auto& a : c.ac)
            if (!finite(a)) return false;
    for (const OrdinalItem& o : p.ordinal) {
        if (!finite(o.thr) || !finite(o.ao)) return false;
        for (int k = 2; k < o.categories; ++k)
            if (!(o.thr[k - 1] < o.thr[k])) return false;
    }
    return true;
}

} // namespace travik
