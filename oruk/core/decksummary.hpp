// The few leading values of an input deck that tell the user the right deck is chosen. The deck
// is read with the estimators' own free-format reader, record by record as they read it, as far
// as the record that holds the cycle cap; what that reader refuses is named with its line.
#pragma once

#include "oruk/core/estimatorprofile.hpp"

#include <QString>

namespace oruk {

enum class DeckAccess {
    Read,        // every value was read
    InvalidPath, // no file name at all: empty, a folder, a name ending in a separator
    Unreadable,  // missing, unreadable, or broken before the last value: nothing is shown
    OtherKind,   // the deck of the other estimator: nothing is shown
};

struct TraitSummary {
    QString title;
    qint64 cases = 0;
    qint64 items = 0; // binary + normal + nominal + ordinal
    qint64 factors = 0;
    qint64 maxCycles = 0; // MAXIT
};

struct ClassSummary {
    QString title;
    qint64 patterns = 0; // data records: cases, or patterns with their frequencies
    qint64 items = 0;
    qint64 classes = 0;
    bool patternInput = false; // IPAT nonzero
    qint64 maxCycles = 0;      // MAXIT (0 in the deck means 3000)
};

template <typename Summary> struct SummaryRead {
    DeckAccess access = DeckAccess::Unreadable;
    Summary summary;
    QString problem; // for Unreadable and OtherKind: what is wrong, naming the file
};

// Latent trait deck: title; NCASE NB NN NC NO NQ; the nominal and the ordinal category counts
// (a line each); NF INIT MAXIT ISAVE TOL IPRS.
SummaryRead<TraitSummary> readTraitSummary(const QString& path);

// Latent class deck: title; NPAT NCLASS NITEM IPAT IPRF IPRH IDENT ISE ISIM IPSIM;
// TOL MAXIT NSIM.
SummaryRead<ClassSummary> readClassSummary(const QString& path);

// The cycle cap of the deck at path for estimator, for a progress bar; 0 when unknown.
qint64 deckMaxCycles(Estimator estimator, const QString& path);

} // namespace oruk
