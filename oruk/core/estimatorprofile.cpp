#include "oruk/core/estimatorprofile.hpp"

#include "latent/file_names.hpp"

#include <string_view>

namespace oruk {

namespace {

QString fileName(std::string_view name) {
    return QString::fromUtf8(name.data(), qsizetype(name.size()));
}

EstimatorProfile profileFrom(const latent::EstimatorFiles& files) {
    EstimatorProfile profile;
    profile.program = fileName(files.program);
    profile.shownName = profile.program.toUpper();
    profile.stagedDeck = fileName(files.deck);
    profile.report = fileName(files.report);
    for (std::string_view output : files.outputs) profile.leftovers << fileName(output);
    profile.leftovers << fileName(files.progress);
    profile.keptEstimates = fileName(files.estimates);
    profile.progressFile = fileName(files.progress);
    profile.resultsFile = fileName(files.results);
    profile.casesFile = fileName(files.cases);
    return profile;
}

} // namespace

const EstimatorProfile& profileOf(Estimator estimator) {
    static const EstimatorProfile trait = profileFrom(latent::kTravikFiles);
    static const EstimatorProfile latentClass = [] {
        EstimatorProfile profile = profileFrom(latent::kPlovenFiles);
        profile.comparisonFile = QStringLiteral("ploven-comparison.json");
        profile.comparisonFolderPattern = QStringLiteral("classes-*");
        // The comparison's table also comes as CSV, for other programs.
        profile.leftovers << profile.comparisonFile << QStringLiteral("ploven-comparison.csv");
        return profile;
    }();
    return estimator == Estimator::Trait ? trait : latentClass;
}

} // namespace oruk
