// What the front end knows about each estimator: its program, the name it is shown under, and
// the files it reads and writes. The file names are the estimators' own (latent/file_names.hpp);
// the front end looks them up in any letter case.
#pragma once

#include <QString>
#include <QStringList>

namespace oruk {

enum class Estimator { Trait, Class };

struct EstimatorProfile {
    QString program;       // executable in the front end's folder
    QString shownName;     // in status texts and messages
    QString stagedDeck;    // the deck a CSV run writes in the work folder (the fixed name of
                           // the estimator's deck)
    QString report;        // copied to the output path
    QStringList leftovers; // every file a run may leave in the work folder
    QString keptEstimates; // may be kept in the input folder; empty when none
    QString progressFile;  // read while the estimator runs
    QString resultsFile;   // the results in JSON
    QString casesFile;     // the per-case results
    // ploven's comparison of class counts (--classes 1-6), each count's outputs in a folder
    // named after it ("classes-3"); empty for travik.
    QString comparisonFile;
    QString comparisonFolderPattern;
};

const EstimatorProfile& profileOf(Estimator estimator);

} // namespace oruk
