#include "runshell/status.hpp"

#include "latent/input_error.hpp"

#include <cstdio>
#include <exception>
#include <new>
#include <system_error>

namespace runshell {

void sayEnding(std::string_view program, std::string_view reason, std::ostream& err) {
    err << program << ": " << reason << '\n';
}

namespace {

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string counted(long long n, std::string_view one, std::string_view many) {
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

} // namespace

std::string userPath(const std::filesystem::path& path,
                     const std::filesystem::path& currentFolder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path absolute = fs::weakly_canonical(fs::absolute(path, ec), ec);
    const fs::path here = fs::weakly_canonical(currentFolder, ec);
    if (ec) return path.string();
    const fs::path inside = absolute.lexically_relative(here);
    if (!inside.empty() && *inside.begin() != "..") return inside.string();
    return absolute.string();
}

std::string summaryLine(std::string_view program, const RunSummary& s,
                        const std::filesystem::path& currentFolder) {
    std::string line = std::string(program) + ": ";
    if (s.converged) {
        line += "converged in " + counted(s.cycles, "cycle", "cycles");
        if (s.newtonSteps > 0)
            line += " and " + counted(s.newtonSteps, "Newton step", "Newton steps");
        if (s.starts > 0)
            line += " (best of " + counted(s.starts, "start", "starts") + " found " +
                    counted(s.bestFound, "time", "times") + ")";
        line += ", loglikelihood " + fixed(s.loglikelihood, 5) + ", BIC " + fixed(s.bic, 2);
        if (!s.reason.empty()) line += "; " + s.reason;
    } else {
        line += s.reason;
    }
    return line + "; report " + userPath(s.report, currentFolder);
}

void saySummary(std::string_view program, const RunSummary& s, std::ostream& err) {
    std::error_code ec;
    err << summaryLine(program, s, std::filesystem::current_path(ec)) << '\n';
}

std::string cycleLimitReason(long long limit, bool csv) {
    return "no convergence within " + counted(limit, "cycle", "cycles") +
           (csv ? " (raise --max-cycles)" : " (raise MAXIT in the deck)");
}

void sayWarning(std::string_view program, std::string_view text, std::ostream& err) {
    err << program << ": warning: " << text << '\n';
}

int failed(std::string_view program, std::ostream& err) {
    try {
        throw;
    } catch (const latent::InputError& e) {
        err << e.what() << '\n';
    } catch (const std::bad_alloc&) {
        err << program << ": not enough memory for this deck\n";
    } catch (const std::exception& e) {
        err << program << ": " << e.what() << '\n';
    }
    return kInputError;
}

} // namespace runshell
