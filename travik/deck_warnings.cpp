#include "travik/deck_warnings.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

namespace travik {

namespace {

bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == ',';
}

// A token the reader would take as a number (E or D exponents).
bool numeric(std::string_view token) {
    std::string s(token);
    for (char& c : s)
        if (c == 'd' || c == 'D') c = 'e';
    char* end = nullptr;
    std::strtod(s.c_str(), &end);
    return !s.empty() && end == s.c_str() + s.size();
}

std::vector<std::string_view> tokens(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        if (isSeparator(line[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < line.size() && !isSeparator(line[i])) ++i;
        out.push_back(line.substr(start, i - start));
    }
    return out;
}

// Where a record lies: its first and last line (1-based) and the numbers left unread on its
// last line.
struct Span {
    int first = 0, last = 0, extra = 0;
    bool complete = false;
};

class RecordScanner {
  public:
    explicit RecordScanner(std::string_view text) {
        if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
        while (!text.empty()) {
            std::size_t end = text.find('\n');
            std::string_view line = text.substr(0, end);
            if (line.ends_with('\r')) line.remove_suffix(1);
            lines_.push_back(line);
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        }
    }

    void skipLine() { ++next_; }

    // A record of n values, starting on a new line; a record of none still uses one line.
    Span record(std::size_t n) {
        Span s;
        std::size_t got = 0;
        bool first = true;
        while (got < n || first) {
            if (next_ >= lines_.size()) return s;
            const std::vector<std::string_view> t = tokens(lines_[next_++]);
            if (first) s.first = static_cast<int>(next_);
            first = false;
            s.last = static_cast<int>(next_);
            for (std::string_view token : t) {
                if (got < n)
                    ++got;
                else if (numeric(token))
                    ++s.extra;
            }
        }
        s.complete = true;
        return s;
    }

    // The first and last line after the records read that hold anything but blanks.
    std::pair<int, int> remainingLines() const {
        int first = 0, last = 0;
        for (std::size_t i = next_; i < lines_.size(); ++i)
            if (!tokens(lines_[i]).empty()) {
                if (first == 0) first = static_cast<int>(i + 1);
                last = static_cast<int>(i + 1);
            }
        return {first, last};
    }

  private:
    std::vector<std::string_view> lines_;
    std::size_t next_ = 0;
};

std::string lineRange(const char* file, std::pair<int, int> lines) {
    if (lines.first == lines.second)
        return std::string(file) + " line " + std::to_string(lines.first);
    return std::string(file) + " lines " + std::to_string(lines.first) + " to " +
           std::to_string(lines.second);
}

std::size_t countOf(int n) {
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

} // namespace

std::vector<std::string> deckWarnings(const std::string& text, const Deck& d) {
    std::vector<std::string> warnings;
    RecordScanner scan(text);
    scan.skipLine(); // the title
    for (std::size_t n : {std::size_t{6}, countOf(d.nc), countOf(d.no), std::size_t{6}})
        if (!scan.record(n).complete) return warnings;
    const std::size_t nv = countOf(d.nv());
    int firstSpan = 0, runOn = 0, longLines = 0;
    Span firstRunOn, firstLong;
    int runOnCase = 0, longCase = 0;
    for (int k = 0; k < d.ncase; ++k) {
        const Span s = scan.record(nv);
        if (!s.complete) return warnings;
        const int span = s.last - s.first + 1;
        if (k == 0)
            firstSpan = span;
        else if (firstSpan == 1 && span > 1 && runOn++ == 0)
            firstRunOn = s, runOnCase = k + 1;
        if (s.extra > 0 && longLines++ == 0) firstLong = s, longCase = k + 1;
    }
    if (runOn > 0)
        warnings.push_back("LAT.INP lines " + std::to_string(firstRunOn.first) + " to " +
                           std::to_string(firstRunOn.last) + ": the values of case " +
                           std::to_string(runOnCase) +
                           " run on to the next line while those of case 1 fit on one line (" +
                           std::to_string(runOn) + (runOn == 1 ? " case" : " cases") +
                           " like this): are the numbers of items right?");
    if (longLines > 0)
        warnings.push_back(
            "LAT.INP line " + std::to_string(firstLong.last) + ": case " +
            std::to_string(longCase) + " has more numbers than the " + std::to_string(nv) +
            " items of the deck (" + std::to_string(longLines) +
            (longLines == 1 ? " case" : " cases") +
            " like this); the extra numbers are not read: are the numbers of items right?");
    const auto rest = scan.remainingLines();
    if (rest.first > 0)
        warnings.push_back(lineRange("LAT.INP", rest) + ": data remain after the last of the " +
                           std::to_string(d.ncase) + " cases and are not read: is NCASE right?");
    return warnings;
}

std::vector<std::string> startingValueWarnings(const std::string& text, const Deck& d) {
    std::vector<std::string> warnings;
    RecordScanner scan(text);
    const std::size_t nf = countOf(d.nf);
    std::vector<std::size_t> records;
    records.reserve(countOf(d.nb) + countOf(d.nn));
    for (int i = 0; i < d.nb; ++i) records.push_back(nf + 1);
    for (int i = 0; i < d.nn; ++i) records.push_back(nf + 2);
    for (int i = 0; i < d.nc; ++i)
        for (int j = 2; j <= d.c[i]; ++j) records.push_back(nf + 1);
    for (int i = 0; i < d.no; ++i) {
        for (int j = 1; j < d.o[i]; ++j) records.push_back(1);
        records.push_back(nf);
    }
    int extraValues = 0, firstLine = 0;
    for (std::size_t n : records) {
        const Span s = scan.record(n);
        if (!s.complete) return warnings;
        if (s.extra > 0 && firstLine == 0) firstLine = s.last;
        extraValues += s.extra;
    }
    if (extraValues > 0)
        warnings.push_back("LAT3.INP line " + std::to_string(firstLine) +
                           ": more values than the model has (" + std::to_string(extraValues) +
                           " not read on the records' lines): do the starting "
                           "values belong to this model (NF = " +
                           std::to_string(d.nf) + ")?");
    const auto rest = scan.remainingLines();
    if (rest.first > 0)
        warnings.push_back(
            lineRange("LAT3.INP", rest) +
            ": values remain after the last parameter of the model and are not read: do the "
            "starting values belong to this model?");
    return warnings;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

} // namespace travik
