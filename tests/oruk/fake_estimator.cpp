// Stand-in for travik and ploven. It reads its script from the deck named on the command line,
// from the file given by --csv, or else from its deck (lat.inp or latc.inp, any letter case)
// in the current folder; -o DIR makes DIR the folder it writes in. It obeys the script's lines:
//   write NAME TEXT / append NAME TEXT   create NAME with TEXT / add TEXT as a line to NAME
//   environment NAME                     write "cwd=FOLDER" and "stdin=closed|open" into NAME
//   arguments NAME                       write its arguments into NAME, one a line
//   wait-for NAME                        wait until the test creates NAME
//   say TEXT / complain TEXT             print TEXT on standard output / standard error
//   crash / exit N                       end on a signal / with status N
//   ignore-terminate                     go on when asked to end (SIGTERM)
// As "PROGRAM record FILE ARGS..." it stands in for an editor and writes ARGS, one a line.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

static std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The options that take no value.
static bool isFlag(const std::string& arg) {
    return arg == "--scores" || arg == "--se" || arg == "--accelerate" || arg == "--no-accelerate";
}

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "record") {
        std::ofstream out(argv[2]);
        for (int i = 3; i < argc; ++i) out << argv[i] << '\n';
        return 0;
    }
    const std::string deckName =
        lower(fs::path(argv[0]).filename()) == "travik" ? "lat.inp" : "latc.inp";
    std::string script, outputFolder;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-o" && i + 1 < argc)
            outputFolder = argv[++i];
        else if (arg == "--csv" && i + 1 < argc)
            script = argv[++i];
        else if (arg.rfind("--", 0) == 0 && i + 1 < argc && !isFlag(arg))
            ++i; // an option's value
        else if (arg.rfind("-", 0) != 0)
            script = arg;
    }
    if (!outputFolder.empty()) fs::current_path(outputFolder);
    std::ifstream in;
    if (!script.empty()) in.open(script);
    for (const auto& entry : fs::directory_iterator(fs::current_path())) {
        if (script.empty() && lower(entry.path().filename()) == deckName) in.open(entry.path());
    }
    if (!in) return 2;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string command, name, text;
        words >> command;
        if (command == "write" || command == "append" || command == "environment" ||
            command == "wait-for" || command == "arguments")
            words >> name;
        std::getline(words >> std::ws, text);
        // A name with a folder (a class count's "classes-2/ploven.json") gets its folder.
        if ((command == "write" || command == "append") && fs::path(name).has_parent_path())
            fs::create_directories(fs::path(name).parent_path());
        if (command == "write") std::ofstream(name) << text << '\n';
        if (command == "append") std::ofstream(name, std::ios::app) << text << '\n';
        if (command == "say") std::cout << text << std::endl;
        if (command == "complain") std::cerr << text << std::endl;
        if (command == "crash") std::raise(SIGKILL);
        if (command == "ignore-terminate") std::signal(SIGTERM, SIG_IGN);
        if (command == "exit") return std::stoi(text);
        if (command == "arguments") {
            std::ofstream out(name);
            for (int i = 1; i < argc; ++i) out << argv[i] << '\n';
        }
        if (command == "environment") {
            char c;
            std::ofstream(name) << "cwd=" << fs::current_path().string() << "\nstdin="
                                << (::read(STDIN_FILENO, &c, 1) <= 0 ? "closed" : "open") << '\n';
        }
        // Bounded, so that a test that never releases it still ends.
        for (int i = 0; command == "wait-for" && i < 3000 && !fs::exists(name); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    return 0;
}
