#include "ploven/deck.hpp"

#include <algorithm>

namespace ploven {

namespace {

constexpr std::size_t kTitleColumns = 72;

} // namespace

std::string readTitle(fixedio::FreeReader& reader) {
    return fixedio::fixedWidthTitle(reader.readLine(), kTitleColumns);
}

void readControls(fixedio::FreeReader& reader, std::size_t deckBytes, Deck& d) {
    const std::vector<fixedio::Token> control = reader.readValues(10, "control values");
    int* fields[] = {&d.npat, &d.nclass, &d.nitem, &d.ipat, &d.iprf,
                     &d.iprh, &d.ident,  &d.ise,   &d.isim, &d.ipsim};
    for (std::size_t i = 0; i < control.size(); ++i) *fields[i] = reader.toInt(control[i]);
    if (d.npat < 0)
        reader.fail(control[0].line,
                    "the number of records must not be negative, found " + std::to_string(d.npat));
    if (d.nclass < 1)
        reader.fail(control[1].line,
                    "the number of classes must be at least 1, found " + std::to_string(d.nclass));
    if (d.nitem < 0)
        reader.fail(control[2].line,
                    "the number of items must not be negative, found " + std::to_string(d.nitem));
    // Every record holds at least nitem values of one character each and a separator.
    if (d.npat > 0 && static_cast<std::size_t>(d.nitem) > deckBytes / 2 + 1)
        reader.fail(control[2].line, "the number of items, " + std::to_string(d.nitem) +
                                         ", is more than the records of this deck can hold");

    const std::vector<fixedio::Token> limits = reader.readValues(3, "values TOL, MAXIT, NSIM");
    d.tol = reader.toReal(limits[0]);
    d.maxit = reader.toInt(limits[1]);
    d.nsim = reader.toInt(limits[2]);
    if (d.maxit < 0)
        reader.fail(limits[1].line, "MAXIT must be positive, or 0 for the default of " +
                                        std::to_string(kDefaultCycleCap) + " cycles; found " +
                                        std::to_string(d.maxit));
    if (d.tol <= 0.0) d.tol = kDefaultTolerance;
    if (d.maxit == 0) d.maxit = kDefaultCycleCap;
}

DeckData readData(fixedio::FreeReader& reader, const Deck& deck) {
    DeckData data;
    data.rows.nitem = deck.nitem;
    const bool leading = !deck.caseInput() || deck.identifiers();
    const std::size_t lead = leading ? 1 : 0;
    // NPAT is only a claim until the records are read: reserve modestly.
    data.rows.freq.reserve(std::min<std::size_t>(static_cast<std::size_t>(deck.npat), 4096));

    std::vector<int> values;
    for (int r = 1; r <= deck.npat; ++r) {
        const std::vector<fixedio::Token> tokens = reader.readValues(
            static_cast<std::size_t>(deck.nitem) + lead, "values of record " + std::to_string(r));
        values.clear();
        for (const fixedio::Token& t : tokens) values.push_back(reader.toInt(t));
        int freq = 1;
        if (!deck.caseInput()) {
            freq = values[0];
            if (freq < 0)
                reader.fail(tokens[0].line,
                            "record " + std::to_string(r) +
                                ": a pattern frequency must not be negative, found " +
                                std::to_string(freq));
        } else if (deck.identifiers()) {
            data.ids.push_back(values[0]);
        }
        for (int j = 0; j < deck.nitem; ++j) {
            const int v = values[lead + j];
            if (v != 0 && v != 1) {
                data.nonBinary = NonBinary{r, j + 1, v};
                return data;
            }
        }
        data.rows.freq.push_back(freq);
        for (int j = 0; j < deck.nitem; ++j)
            data.rows.x.push_back(static_cast<std::uint8_t>(values[lead + j]));
    }
    return data;
}

} // namespace ploven
