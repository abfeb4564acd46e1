#include "app/option_parser.h"

#include <getopt.h>

#include <iterator>

#ifndef OSTREL_VERSION
#define OSTREL_VERSION "unknown"
#endif

namespace ostrel::cli {

namespace {

// getopt_long's code for the long option at index i is kFirstCode + i: above every short
// option's character, and distinct, so that a prefix of several names is ambiguous (getopt
// takes a prefix shared by options of equal codes as the first of them).
constexpr int kFirstCode = 256;

// "-": every argument that is not an option comes back in order as code 1, whatever
// POSIXLY_CORRECT says, so nothing is permuted; ":": a missing value comes back as ':'; "h":
// -h, the one short option, is --help.
constexpr const char *kShortOptions = "-:h";

const Option kCommonOptions[] = {{"help", false}, {"version", false}};

// The grammar in getopt_long's terms, and a private argv of copies for it to walk.
class Walk {
  public:
    Walk(const Grammar &grammar, std::span<const std::string_view> args) {
        options_.assign(grammar.options.begin(), grammar.options.end());
        options_.insert(options_.end(), std::begin(kCommonOptions), std::end(kCommonOptions));
        for (const Option &o : options_) names_.emplace_back(o.name);
        for (std::size_t i = 0; i < options_.size(); ++i) {
            const int hasArg = options_[i].takesValue ? required_argument : no_argument;
            longOptions_.push_back({names_[i].c_str(), hasArg, nullptr, kFirstCode + int(i)});
        }
        longOptions_.push_back({nullptr, 0, nullptr, 0});
        words_.emplace_back(grammar.program);
        words_.insert(words_.end(), args.begin(), args.end());
        for (std::string &word : words_) argv_.push_back(word.data());
        argv_.push_back(nullptr);
        given_.assign(options_.size(), false);
    }

    // The next code of getopt_long; -1 at the end of the options.
    int next() {
        return getopt_long(int(words_.size()), argv_.data(), kShortOptions, longOptions_.data(),
                           nullptr);
    }

    // The option of a code of ours, or nullptr for getopt's own codes.
    const Option *optionOf(int code) const {
        const std::size_t index = std::size_t(code - kFirstCode);
        return code >= kFirstCode && index < options_.size() ? &options_[index] : nullptr;
    }

    // True the first time option `code` is seen.
    bool firstTime(int code) {
        const std::size_t index = std::size_t(code - kFirstCode);
        const bool first = !given_[index];
        given_[index] = true;
        return first;
    }

    // The arguments after the last option ("--" and what follows it).
    std::span<char *const> rest() const {
        return {argv_.data() + optind, argv_.data() + words_.size()};
    }

    // What getopt refused, in the words of the GNU tools; getopt has moved past it.
    std::string refusal(int code) const {
        if (const Option *option = optionOf(optopt)) {
            return "option '--" + std::string(option->name) +
                   (code == ':' ? "' requires an argument" : "' doesn't allow an argument");
        }
        if (optopt != 0) return "invalid option -- '" + std::string(1, char(optopt)) + "'";
        const std::string_view argument = argv_[optind - 1];
        const std::string_view name = argument.substr(2, argument.find('=') - 2);
        std::string possibilities;
        int matches = 0;
        for (const Option &o : options_) {
            if (!o.name.starts_with(name)) continue;
            possibilities += " '--" + std::string(o.name) + "'";
            ++matches;
        }
        if (matches > 1) {
            return "option '--" + std::string(name) +
                   "' is ambiguous; possibilities:" + possibilities;
        }
        return "unrecognized option '" + std::string(argument) + "'";
    }

  private:
    std::vector<Option> options_;
    std::vector<std::string> names_;  // the names as C strings, for longOptions_
    std::vector<option> longOptions_;
    std::vector<std::string> words_;  // the program's name and the arguments, owned
    std::vector<char *> argv_;        // into words_, then a null pointer
    std::vector<bool> given_;
};

// Keeps an operand; what is wrong when it is one too many.
std::string addOperand(const Grammar &grammar, const char *operand, ParsedArguments &parsed) {
    if (parsed.operands.size() == grammar.maxOperands) {
        return "extra operand '" + std::string(operand) + "'";
    }
    parsed.operands.emplace_back(operand);
    return {};
}

// Takes what getopt_long found (`code`); what is wrong, or empty. --help and --version only
// set their flag.
std::string take(const Grammar &grammar, Walk &walk, int code, const OptionHandler &handle,
                 ParsedArguments &parsed) {
    if (code == 1) return addOperand(grammar, optarg, parsed);
    if (code == 'h') {
        parsed.help = true;
        return {};
    }
    const Option *option = walk.optionOf(code);
    if (option == nullptr) return walk.refusal(code);
    if (option->name == "help" || option->name == "version") {
        (option->name == "help" ? parsed.help : parsed.version) = true;
        return {};
    }
    if (option->takesValue && !walk.firstTime(code)) {
        return "--" + std::string(option->name) + " given twice";
    }
    return handle(option->name, option->takesValue ? optarg : "");
}

}  // namespace

ParsedArguments parseArguments(const Grammar &grammar, std::span<const std::string_view> args,
                               const OptionHandler &handle) {
    Walk walk(grammar, args);
    ParsedArguments parsed;
    std::string problem;
    optind = 0;  // a fresh start: getopt forgets the previous parse
    opterr = 0;  // getopt prints nothing; the message is ours
    int code = 0;
    while (problem.empty() && (code = walk.next()) != -1) {
        problem = take(grammar, walk, code, handle, parsed);
        if (parsed.help || parsed.version) return parsed;
    }
    if (problem.empty()) {
        for (const char *operand : walk.rest()) {
            problem = addOperand(grammar, operand, parsed);
            if (!problem.empty()) break;
        }
    }
    if (!problem.empty()) parsed.error = usageMessage(grammar.program, problem);
    return parsed;
}

std::string usageMessage(std::string_view program, std::string_view what) {
    return std::string(program) + ": " + std::string(what) + "\nTry '" + std::string(program) +
           " --help' for more information.\n";
}

std::string versionText(std::string_view program) {
    return std::string(program) + " " + OSTREL_VERSION + "\n";
}

}  // namespace ostrel::cli
