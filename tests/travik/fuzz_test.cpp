// Thousands of damaged decks: every run must end cleanly with status 0, 1 or 2 and say why.
// The last seed converges to a certified maximum within its MAXIT, so that every status is
// reached.
#include "test_support.hpp"

#include <random>

using namespace travik_test;

namespace {

const char* const kSeeds[] = {
    "Mixed one factor\n6 2 1 1 1 8\n3\n3\n1 0 300 1 0.0001 1\n1 0 1.5 1 1\n0 1 2.0 2 2\n1 1 999 3 "
    "3\n"
    "0 0 -0.5 1 999\n1 999 0.75 2 1\n1 1 1.25 3 2\n",
    "Two factors\n4 1 1 1 1 8\n2\n2\n2 0 300 1 0.00001 1\n1 0.5 1 2\n0 1.5 2 1\n1 2.5 2 2\n0 3.5 1 "
    "1\n",
    "Start values\n3 1 1 0 1 16\n\n3\n1 1 300 1 0.001 0\n1 0.2 3\n0 0.4 1\n1 0.9 2\n",
    // Forty cases: enough for a model with a maximum, so that damaged copies also converge.
    "Binary and ordinal\n40 3 0 0 1 16\n\n3\n1 0 300 1 0.0001 0\n0 0 0 1\n0 0 0 1\n1 0 1 3\n"
    "1 1 1 3\n0 1 1 2\n0 1 0 2\n0 0 0 1\n0 0 0 3\n0 1 0 2\n0 0 0 2\n0 1 0 2\n0 0 1 2\n"
    "0 1 1 3\n1 0 1 2\n0 0 1 1\n0 1 1 1\n1 1 1 3\n0 1 0 2\n0 1 1 3\n0 1 1 2\n0 0 0 2\n"
    "1 0 1 2\n0 0 1 2\n1 1 1 3\n1 1 1 3\n1 1 1 1\n1 0 1 3\n1 1 1 3\n1 1 0 2\n0 0 1 3\n"
    "1 1 1 1\n0 1 1 2\n0 0 1 1\n0 0 0 1\n1 1 0 1\n0 0 1 2\n0 0 1 1\n0 0 0 1\n0 0 1 1\n"
    "0 1 1 2\n",
};
const char* const kStart = "0.1 0.9\n0.3 0.5 1.1\n-1\n0.5\n0.8\n";

std::string mutate(std::string deck, std::mt19937& rng) {
    auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    const char* const tokens[] = {
        "99999999999", "2147483647", "-2147483648", "1e308", "-1e308", "1e-320", "0",
        "-1",          "48",         "2000",        "999",   "nan",    "",       ",",
        "\n",          "\r\n",       "\t",          "1.5"};
    int edits = 1 + static_cast<int>(pick(3));
    for (int e = 0; e < edits && !deck.empty(); ++e) {
        std::size_t at = pick(deck.size());
        switch (pick(5)) {
        case 0: // truncate
            deck.resize(at);
            break;
        case 1: // flip a byte
            deck[at] = static_cast<char>(pick(256));
            break;
        case 2: { // replace a token
            std::size_t end = deck.find_first_of(" \n", at);
            if (end == std::string::npos) end = deck.size();
            deck.replace(at, end - at, tokens[pick(std::size(tokens))]);
            break;
        }
        case 3: // an empty line
            deck.insert(at, "\n");
            break;
        default: { // drop or double a line
            std::size_t start = deck.rfind('\n', at);
            start = start == std::string::npos ? 0 : start + 1;
            std::size_t end = deck.find('\n', at);
            end = end == std::string::npos ? deck.size() : end + 1;
            std::string line = deck.substr(start, end - start);
            if (pick(2))
                deck.erase(start, end - start);
            else
                deck.insert(start, line);
        }
        }
    }
    return deck;
}

} // namespace

TEST(DeckFuzz, DamagedDecksEndCleanly) {
    TempFolder dir;
    std::mt19937 rng(12345);
    int counts[3] = {0, 0, 0};
    for (int i = 0; i < 3000; ++i) {
        std::string deck = mutate(kSeeds[i % std::size(kSeeds)], rng);
        RunResult r = runDeck(dir.path, deck, i % 2 ? kStart : "");
        ASSERT_TRUE(r.status >= 0 && r.status <= 2) << deck;
        ++counts[r.status];
        if (r.status == 2)
            ASSERT_FALSE(r.errors.empty()) << deck;
        else
            ASSERT_FALSE(r.report.empty()) << deck;
        // Every run that is not a converged fit says why on the terminal.
        if (r.status == 1) {
            ASSERT_NE(r.errors.find("travik: "), std::string::npos) << deck;
        }
        for (const std::string& line : lines(r.report)) {
            if (line.starts_with("Filename:")) continue; // the deck's own title
            ASSERT_EQ(line.find("nan"), std::string::npos) << line << "\n" << deck;
            ASSERT_EQ(line.find("inf"), std::string::npos) << line << "\n" << deck;
        }
    }
    // The mutations must exercise every outcome, or the test proves little.
    EXPECT_GT(counts[0], 100);
    EXPECT_GT(counts[1], 100);
    EXPECT_GT(counts[2], 100);
}
