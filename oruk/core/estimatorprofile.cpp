#include "oruk/core/estimatorprofile.hpp"

namespace oruk {

const EstimatorProfile& profileOf(Estimator estimator) {
    static const EstimatorProfile trait{
        QStringLiteral("travik"),
        QStringLiteral("TRAVIK"),
        QStringLiteral("lat.inp"),
        QStringLiteral("Li7.out"),
        {QStringLiteral("Li7.out"), QStringLiteral("Li8.out")},
        {QStringLiteral("Matrix.out"), QStringLiteral("fort.2"), QStringLiteral("travik.json"),
         QStringLiteral("travik-cases.csv")},
        QStringLiteral("Li8.out"),
        QStringLiteral("fort.2"),
        QStringLiteral("travik.json"),
        QStringLiteral("travik-cases.csv"),
    };
    static const EstimatorProfile latentClass{
        QStringLiteral("ploven"),
        QStringLiteral("PLOVEN"),
        QStringLiteral("latc.inp"),
        QStringLiteral("Latc7.out"),
        {QStringLiteral("Latc7.out"), QStringLiteral("Latc8.out"), QStringLiteral("Latc9.out")},
        {QStringLiteral("Etas.out"), QStringLiteral("Pis.out"), QStringLiteral("fort.2"),
         QStringLiteral("ploven.json"), QStringLiteral("ploven-cases.csv")},
        QString(),
        QStringLiteral("fort.2"),
        QStringLiteral("ploven.json"),
        QStringLiteral("ploven-cases.csv"),
    };
    return estimator == Estimator::Trait ? trait : latentClass;
}

} // namespace oruk
