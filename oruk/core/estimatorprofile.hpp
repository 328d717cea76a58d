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
    QString stagedDeck;        // the deck's fixed name in the work folder (also the name of
                               // the deck a CSV run writes there)
    bool stagesDeck = false;   // also copy a deck there, for an estimator that reads only that
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
