#include "emulator/Conditions.h"

#include "system/Files.h"
#include "values/AddressRange.h"
#include "values/Values.h"

namespace {

// A conditions file larger than this is refused (a line per printer of a /16 is about 2 MB).
constexpr size_t kMaxConditionsFileBytes = 16 * 1024 * 1024;

// Each condition's name and its answers to DLE EOT 1-4, in the order of PrinterCondition. The
// bits: DLE EOT 1 0x08 offline; 2 0x04 cover open, 0x20 stopped at the paper end, 0x40 an error
// occurred; 3 0x08 cutter error; 4 0x0c paper near its end, 0x60 paper end. 0x12 is the fixed
// bits alone; 0x04 in the answer to 1 is the drawer pin, high as on a printer with no drawer.
struct Kind {
    const char* name;
    unsigned char answers[4];
};
constexpr Kind kKinds[] = {
    {"none", {0x16, 0x12, 0x12, 0x12}},         {"paper-near-end", {0x16, 0x12, 0x12, 0x1e}},
    {"paper-end", {0x1e, 0x32, 0x12, 0x72}},    {"cover-open", {0x1e, 0x16, 0x12, 0x12}},
    {"cutter-error", {0x1e, 0x52, 0x1a, 0x12}}, {"offline", {0x1e, 0x12, 0x12, 0x12}},
};

const Kind& KindOf(PrinterCondition condition) {
    return kKinds[static_cast<size_t>(condition)];
}

const char kKindList[] = "paper-near-end, paper-end, cover-open, cutter-error, offline or none";

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    return first == std::string::npos ? std::string()
                                      : text.substr(first, text.find_last_not_of(" \t\r") + 1 - first);
}

// ADDRESS=KIND, spaces around either allowed: the printers it names (their indexes in
// `printers`) and the condition. False with `problem` saying what is wrong.
bool ParseSetting(const std::string& text,
                  const std::vector<PlannedPrinter>& printers,
                  std::vector<size_t>& chosen,
                  PrinterCondition& condition,
                  std::string& problem) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos) {
        problem = ShownText(text) + " is not ADDRESS=KIND";
        return false;
    }
    const std::string kind = Trimmed(text.substr(equals + 1));
    size_t found = 0;
    while (found < sizeof kKinds / sizeof kKinds[0] && kind != kKinds[found].name) {
        ++found;
    }
    std::vector<uint32_t> addresses;
    if (!ParseAddressRange(Trimmed(text.substr(0, equals)), addresses, problem)) {
        return false;
    }
    if (found == sizeof kKinds / sizeof kKinds[0]) {
        problem = ShownText(kind) + " is not " + kKindList;
        return false;
    }
    condition = static_cast<PrinterCondition>(found);
    chosen.clear();
    for (const uint32_t address : addresses) {
        chosen.push_back(FindPrinter(printers, address));
        if (chosen.back() == printers.size()) {
            problem = FormatAddress(address) + " is not among the --bind addresses";
            return false;
        }
    }
    return true;
}

}  // namespace

int StatusAnswer(PrinterCondition condition, unsigned char n) {
    return n >= 1 && n <= 4 ? KindOf(condition).answers[n - 1] : -1;
}

const char* ConditionName(PrinterCondition condition) {
    return KindOf(condition).name;
}

bool PlanConditions(const std::vector<std::string>& conditions,
                    std::vector<PlannedPrinter>& printers,
                    std::string& error) {
    std::vector<bool> given(printers.size());
    std::vector<size_t> chosen;
    for (const std::string& text : conditions) {
        PrinterCondition condition = PrinterCondition::None;
        std::string problem;
        if (!ParseSetting(text, printers, chosen, condition, problem)) {
            error = "--condition: " + problem;
            return false;
        }
        for (const size_t index : chosen) {
            if (given[index]) {
                error = "--condition: " + FormatAddress(printers[index].address) + " is given two conditions";
                return false;
            }
            given[index] = true;
            printers[index].condition = condition;
        }
    }
    return true;
}

bool ReadConditionsFile(const std::string& path, std::vector<PlannedPrinter>& printers, std::string& error) {
    std::string text;
    if (!ReadFileBytes(path, kMaxConditionsFileBytes, text, error)) {
        return false;
    }
    std::vector<size_t> chosen;
    size_t number = 0;
    for (size_t start = 0; start < text.size(); ++number) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, end - start);
        line = Trimmed(line.substr(0, line.find('#')));  // a '#' begins a comment
        start = end + 1;
        if (line.empty()) {
            continue;
        }
        PrinterCondition condition = PrinterCondition::None;
        std::string problem;
        if (!ParseSetting(line, printers, chosen, condition, problem)) {
            error = FileLabel(path) + " line " + std::to_string(number + 1) + ": " + problem;
            return false;
        }
        for (const size_t index : chosen) {
            printers[index].condition = condition;
        }
    }
    return true;
}
