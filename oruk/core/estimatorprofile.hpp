// What the front end knows about each estimator: the names of its program, of the deck it
// reads and of every file it leaves in the work folder.
#pragma once

#include <QString>
#include <QStringList>

namespace oruk {

enum class Estimator { Trait, Class };

struct EstimatorProfile {
    QString program;           // executable in the front end's folder
    QString shownName;         // in status texts and messages
    QString stagedDeck;        // the deck a CSV run writes in the work folder (the fixed name
                               // of the estimator's deck)
    QString report;            // copied to the output path
    QStringList numberedFiles; // the report and its numbered companions
    QStringList otherFiles;    // everything else the estimator may leave behind
    QString keptEstimates;     // may be kept in the input folder; empty when none
    QString progressFile;      // read while the estimator runs; empty when none
    QString resultsFile;       // the results in JSON
    QString casesFile;         // the per-case results
};

const EstimatorProfile& profileOf(Estimator estimator);

} // namespace oruk
