// The input deck LATC.INP: title, control values, tolerance line and data records.
#pragma once

#include "fixedio/freeread.hpp"
#include "ploven/model.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace ploven {

struct Deck {
    std::string title; // the first 72 characters of line 1, padded with blanks to 72
    int npat = 0;      // number of records: cases (ipat == 0) or patterns
    int nclass = 0;
    int nitem = 0;
    int ipat = 0;  // 0: one record per case; otherwise one record per pattern with its frequency
    int iprf = 0;  // 1: list the observed patterns
    int iprh = 0;  // 1: list the posteriors
    int ident = 0; // nonzero: case records start with an identifier; 1: classification file
    int ise = 0;   // 1: standard errors
    int isim = 0;  // 1: simulation study
    int ipsim = 0; // 1: list every simulated sample's estimates
    double tol = 0.0;
    int maxit = 0;
    int nsim = 0;

    bool caseInput() const { return ipat == 0; }
    bool identifiers() const { return caseInput() && ident != 0; }
};

constexpr double kDefaultTolerance = 1.0e-7;
constexpr int kDefaultCycleCap = 3000;

// Reads the title line: its first 72 characters, padded with blanks to 72.
std::string readTitle(fixedio::FreeReader& reader);

// Reads the control values and the tolerance line into deck; applies the defaults for TOL and
// MAXIT. Counts no deck can mean (negative, no class, more items than the deck could hold in
// deckBytes) are an InputError.
void readControls(fixedio::FreeReader& reader, std::size_t deckBytes, Deck& deck);

// The first response that is not 0 or 1: record and item 1-based.
struct NonBinary {
    int record = 0;
    int item = 0;
    int value = 0;
};

struct DeckData {
    PatternTable rows;    // case rows (frequency 1) or patterns with their frequencies
    std::vector<int> ids; // case identifiers, when the records carry them
    std::optional<NonBinary> nonBinary; // reading stopped at this record
};

// Reads the data records; every record is checked as soon as it is read.
DeckData readData(fixedio::FreeReader& reader, const Deck& deck);

} // namespace ploven
