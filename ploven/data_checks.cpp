#include "ploven/data_checks.hpp"

#include "csvio/deck_text.hpp"
#include "ploven/model_comparison.hpp"

#include <cctype>

namespace ploven {

namespace {

// Items the refusal names one by one; the rest are counted.
constexpr std::size_t kItemsNamed = 5;

std::string nameOf(const DegenerateItem& d, const DataSource& source) {
    const std::string value = "(" + std::to_string(d.value) + " FOR EVERY CASE)";
    if (source.columns.empty()) return std::to_string(d.item + 1) + " " + value;
    return "\"" + csvio::printable(source.columns[d.item]) + "\" " + value;
}

std::string countOf(long long n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool blankLine(std::string_view line) {
    for (char c : line)
        if (c != ' ' && c != '\t' && c != ',' && c != '\r') return false;
    return true;
}

} // namespace

std::vector<DegenerateItem> degenerateItems(const PatternTable& data) {
    std::vector<long long> positive(static_cast<std::size_t>(data.nitem), 0);
    long long observed = 0;
    for (int i = 0; i < data.size(); ++i) {
        const long long f = data.freq[i];
        if (f <= 0) continue;
        observed += f;
        const std::uint8_t* x = data.row(i);
        for (int j = 0; j < data.nitem; ++j)
            if (x[j]) positive[j] += f;
    }
    std::vector<DegenerateItem> out;
    if (observed == 0) return out;
    for (int j = 0; j < data.nitem; ++j)
        if (positive[j] == 0 || positive[j] == observed)
            out.push_back({j, positive[j] == 0 ? 0 : 1});
    return out;
}

std::string degenerateItemsLine(std::span<const DegenerateItem> items, int nitem,
                                const DataSource& source) {
    const bool csv = !source.columns.empty();
    const std::string reason = "THE LIKELIHOOD HAS NO MAXIMUM INSIDE THE MODEL";
    std::string text;
    if (static_cast<int>(items.size()) == nitem) {
        // One pattern for all cases: nothing distinguishes the cases, whatever the items.
        text = "EVERY ITEM HAS ONE OBSERVED VALUE: " +
               (source.cases == 1
                    ? std::string("THERE IS ONE CASE ONLY")
                    : "ALL " + std::to_string(source.cases) + " CASES GIVE THE SAME RESPONSES") +
               ", SO " + reason;
    } else {
        const bool several = items.size() > 1;
        text = std::string(csv ? "COLUMN" : "ITEM") + (several ? "S " : " ");
        for (std::size_t i = 0; i < items.size() && i < kItemsNamed; ++i)
            text += (i > 0 ? ", " : "") + nameOf(items[i], source);
        if (items.size() > kItemsNamed)
            text += " AND " + std::to_string(items.size() - kItemsNamed) + " MORE";
        text += std::string(several ? " HAVE" : " HAS") + " ONE OBSERVED VALUE: " + reason +
                "; LEAVE " + (several ? "THEM" : "IT") + " OUT";
    }
    if (source.casesLeftOut > 0)
        text += "; ONLY THE " + countOf(source.cases, "CASE", "CASES") +
                " WITHOUT A MISSING VALUE ARE USED (" + std::to_string(source.casesLeftOut) +
                " LEFT OUT): ARE THE MISSING-VALUE TOKENS RIGHT?";
    return "    *** ERROR ***  " + text + "\n";
}

std::vector<std::string> modelSizeWarnings(int nitem, int nclass, long long ncase) {
    std::vector<std::string> out;
    const long long p = modelParameters(nitem, nclass);
    if (p > ncase)
        out.push_back("the model has " + countOf(p, "free parameter", "free parameters") +
                      ", more than the " + countOf(ncase, "case", "cases") +
                      ": the data cannot determine its estimates; fit fewer classes");
    // 2^nitem - 1 exceeds every parameter count from 63 items on.
    if (nitem < 63) {
        const long long cells = (1LL << nitem) - 1;
        if (p >= cells)
            out.push_back("the model is saturated: its " + std::to_string(p) +
                          " free parameters are " + (p == cells ? "as many as" : "more than") +
                          " the " + std::to_string(cells) +
                          " free cells of the table of response patterns, so the fit "
                          "statistics (degrees of freedom " +
                          std::to_string(cells - p) + ") test nothing; fit fewer classes");
    }
    return out;
}

std::optional<std::string> unreadDataWarning(std::string_view deck, int linesRead,
                                             const std::string& label, int records) {
    int line = 0, first = 0, last = 0;
    while (!deck.empty()) {
        const std::size_t end = deck.find('\n');
        const std::string_view text = deck.substr(0, end);
        deck.remove_prefix(end == std::string_view::npos ? deck.size() : end + 1);
        if (++line <= linesRead || blankLine(text)) continue;
        if (first == 0) first = line;
        last = line;
    }
    if (first == 0) return std::nullopt;
    const std::string lines =
        first == last ? "line " + std::to_string(first)
                      : "lines " + std::to_string(first) + " to " + std::to_string(last);
    return "\"" + label + "\" " + lines + ": data remain after the last of the " +
           countOf(records, "record", "records") + " (NPAT) and are not read: is NPAT right?";
}

std::string reportWarning(const std::string& warning) {
    std::string out = "*** WARNING *** " + warning;
    bool quoted = false;
    for (char& c : out) {
        if (c == '"') quoted = !quoted;
        if (!quoted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

} // namespace ploven
