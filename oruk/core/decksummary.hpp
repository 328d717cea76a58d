// The few leading values of an input deck that tell the user the right deck is chosen.
#pragma once

#include <QString>

namespace oruk {

enum class DeckAccess {
    Read,        // every value was read
    InvalidPath, // no file name at all: empty, a folder, a name ending in a separator
    Unreadable,  // missing, unreadable, or broken before the last value: nothing is shown
};

struct TraitSummary {
    QString title;
    qint64 cases = 0;
    qint64 items = 0; // binary + normal + nominal + ordinal
    qint64 factors = 0;
};

struct ClassSummary {
    QString title;
    qint64 patterns = 0;
    qint64 items = 0;
    qint64 classes = 0;
};

template <typename Summary> struct SummaryRead {
    DeckAccess access = DeckAccess::Unreadable;
    Summary summary;
};

// Latent trait deck: title; NCASE NB NN NC NO NQ; nominal and ordinal category lines; NF ...
SummaryRead<TraitSummary> readTraitSummary(const QString& path);

// Latent class deck: title; NPAT NCLASS NITEM ...
SummaryRead<ClassSummary> readClassSummary(const QString& path);

} // namespace oruk
