// Mutated decks: truncations, byte flips, huge or negative numbers, words, empty and missing
// lines. Every run must end with status 0, 1 or 2, never crash. The base decks ask for no
// simulation study, whose length grows with NSIM by design, and stop the EM after few cycles.
#include "helpers.hpp"

#include <random>

using namespace testing_ploven;

namespace {

const char* const kBaseDecks[] = {
    "Cases with identifiers\n6 2 4 0 1 1 1 1 0 0\n0.0001 40 0\n"
    "11 1 0 1 1\n12 0 0 0 1\n13 1 1 1 1\n14 0 0 0 0\n15 1 0 1 1\n16 0 1 0 0\n",
    "Patterns\n4 2 3 1 1 0 0 1 0 0\n0 30 0\n7 1 0 1\n0 0 1 0\n5 0 0 0\n9 1 1 1\n",
    "Commas, tabs, records over two lines\n5,2,3,0,1,0,0,0,0,0\n0.0001,40,0\n1,0,\n1\n0\t0 0\n1 1 "
    "1\n"
    "0 1\n0\n1 1 0\n",
    "Three classes\n8 3 4 0 0 1 0 1 0 0\n0 25 0\n1 1 1 1\n0 0 0 0\n1 1 0 0\n0 0 1 1\n"
    "1 0 1 0\n0 1 0 1\n1 1 1 0\n0 0 0 1\n",
};

const char* const kReplacements[] = {"2147483647", "99999999999", "-1", "-2147483648",
                                     "1e308",      "0",           "x",  "1.5",
                                     "",           ",",           "3",  "1D2"};

std::string mutate(std::string deck, std::mt19937& g) {
    auto at = [&] { return deck.empty() ? 0 : static_cast<std::size_t>(g() % deck.size()); };
    switch (g() % 5) {
    case 0: // truncation
        deck.resize(at());
        break;
    case 1: // byte flip
        if (!deck.empty()) deck[at()] = static_cast<char>(g() % 256);
        break;
    case 2: { // the value at a random place replaced
        const std::size_t from = deck.find_last_of(" \n", at()) + 1; // npos + 1 is 0
        deck.replace(from, deck.find_first_of(" \n", from) - from,
                     kReplacements[g() % std::size(kReplacements)]);
        break;
    }
    case 3: { // an empty line, or a line removed
        const std::size_t line = std::min(deck.find('\n', at()), deck.size());
        if (g() % 2)
            deck.insert(line, "\n");
        else
            deck.erase(line, deck.find('\n', line + 1) - line);
        break;
    }
    default: // Windows line ends
        for (std::size_t i = deck.find('\n'); i != std::string::npos; i = deck.find('\n', i + 2))
            deck.insert(i, "\r");
    }
    return deck;
}

} // namespace

TEST(Fuzz, MutatedDecksEndWithAStatus) {
    std::mt19937 g(2024);
    std::FILE* console = std::fopen("/dev/null", "r+");
    ASSERT_NE(console, nullptr);
    Folder folder;
    int counts[3] = {0, 0, 0};
    for (int round = 0; round < 3000; ++round) {
        std::string deck = kBaseDecks[round % std::size(kBaseDecks)];
        for (int n = 1 + static_cast<int>(g() % 3); n > 0; --n) deck = mutate(deck, g);
        for (const auto& entry : fs::directory_iterator(folder.path)) fs::remove(entry.path());
        std::ofstream(folder.path / "LATC.INP", std::ios::binary) << deck;
        std::ostringstream err;
        const int status = ploven::runInFolder(folder.path, console, err, console);
        ASSERT_TRUE(status >= 0 && status <= 2) << deck;
        ++counts[status];
        if (status == 2) {
            ASSERT_TRUE(contains(err.str(), "ploven: ")) << deck;
        }
        const std::string report = folder.read("LATC7.OUT");
        ASSERT_FALSE(contains(report, "nan") || contains(report, "inf")) << deck;
    }
    std::fclose(console);
    // The mutations reach all three endings.
    EXPECT_GT(counts[0], 100);
    EXPECT_GT(counts[1], 10);
    EXPECT_GT(counts[2], 100);
}
