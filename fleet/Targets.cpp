#include "fleet/Targets.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <set>

#include "fleet/Profile.h"
#include "system/Files.h"
#include "system/WideText.h"
#include "transport/DeviceFile.h"
#include "values/AddressRange.h"
#include "values/Values.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The words of one line; false with `error` when a quote is not closed.
bool SplitWords(const std::string& line, std::vector<std::string>& words, std::string& error) {
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        if (i >= line.size() || line[i] == '#') {
            break;  // the rest of the line is a comment
        }
        std::string word;
        while (i < line.size() && !IsBlank(line[i])) {
            if (line[i] != '"') {
                word += line[i++];
                continue;
            }
            // A quoted part: blanks and '#' are text; \" and \\ stand for " and \.
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
                    word += line[i + 1];
                    i += 2;
                } else if (line[i] == '"') {
                    ++i;
                    closed = true;
                    break;
                } else {
                    word += line[i++];
                }
            }
            if (!closed) {
                error = "a quote is not closed";
                return false;
            }
        }
        words.push_back(word);
    }
    return true;
}

// Adds the label `name` with `value` to `line` (none for an empty value); a problem with the
// name or the value, or a label given twice, is added to `errors` as "WHERE: ...".
void AddLabel(TargetLine& line,
              const std::string& name,
              const std::string& value,
              const std::string& where,
              std::vector<std::string>& errors) {
    if (value.empty()) {
        return;
    }
    const std::string problem = LineLabelValueProblem(value);
    if (!problem.empty()) {
        errors.push_back(where + ": " + kLabelPrefix + name + ": " + problem);
    } else if (FindLabel(line.labels, name) != nullptr) {
        errors.push_back(where + ": " + kLabelPrefix + name + ": given twice on one line");
    } else {
        line.labels.emplace_back(name, value);
    }
}

}  // namespace

void ParseTargetsText(const std::string& text,
                      const std::string& origin,
                      std::vector<TargetLine>& lines,
                      std::vector<std::string>& errors) {
    size_t start = 0;
    // A UTF-8 byte order mark, as some editors write it, is not part of the first target.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        start = 3;
    }
    int number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        const std::string where = origin + ":" + std::to_string(number);
        std::vector<std::string> words;
        std::string error;
        if (!SplitWords(line, words, error)) {
            errors.push_back(where + ": " + error);
            continue;
        }
        if (words.empty()) {
            continue;
        }
        TargetLine target;
        target.origin = where;
        target.target = words[0];
        const std::string prefix = kLabelPrefix;
        for (size_t i = 1; i < words.size(); ++i) {
            const std::string& word = words[i];
            if (word.compare(0, prefix.size(), prefix) != 0) {
                target.overrides.push_back(word);
                continue;
            }
            const size_t equals = word.find('=');
            const std::string name = word.substr(prefix.size(), equals - prefix.size());
            const std::string problem =
                equals == std::string::npos
                    ? ShownText(word, 64) + ": a label is written label.NAME=VALUE (like label.shop=North)"
                : !ValidLabelName(name) ? ShownText(word.substr(0, equals), 64) + ": " + kLabelNameRule
                                        : "";
            if (!problem.empty()) {
                errors.push_back(where + ": " + problem);
                continue;
            }
            AddLabel(target, name, word.substr(equals + 1), where, errors);
        }
        lines.push_back(std::move(target));
    }
}

namespace {

// A row of CSV text and its number (the header is row 1).
struct CsvRow {
    size_t number;
    std::vector<std::string> cells;
};

// The rows of CSV text; false with `error` naming the row where a quote is out of place. The
// cells are separated by commas, or by what follows the header's first cell, "target": a
// spreadsheet saved where the comma is the decimal sign separates them by semicolons.
bool SplitCsv(const std::string& text,
              const std::string& origin,
              std::vector<CsvRow>& rows,
              std::string& error) {
    size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const size_t size = text.size();
    const char separator = text.compare(i, 7, "target;") == 0    ? ';'
                           : text.compare(i, 7, "target\t") == 0 ? '\t'
                                                                 : ',';
    for (size_t number = 1; i < size; ++number) {
        CsvRow row{number, {}};
        for (;;) {
            std::string cell;
            const std::string where = origin + " row " + std::to_string(number) + ", column " +
                                      std::to_string(row.cells.size() + 1);
            if (i < size && text[i] == '"') {
                // Quoted: separators and line ends are text, and "" stands for one quote.
                for (++i;; ++i) {
                    if (i >= size) {
                        error = where + ": a quote is not closed";
                        return false;
                    }
                    if (text[i] == '"' && (i + 1 >= size || text[i + 1] != '"')) {
                        ++i;
                        break;
                    }
                    i += text[i] == '"' ? 1 : 0;
                    cell += text[i];
                }
                if (i < size && text[i] != separator && text[i] != '\r' && text[i] != '\n') {
                    error = where + ": text after the closing quote (a quote inside a cell is written \"\")";
                    return false;
                }
            } else {
                for (; i < size && text[i] != separator && text[i] != '\n' && text.compare(i, 2, "\r\n") != 0;
                     ++i) {
                    if (text[i] == '"') {
                        error = where + ": a quote in a cell that does not begin with one";
                        return false;
                    }
                    cell += text[i];
                }
            }
            row.cells.push_back(std::move(cell));
            if (i < size && text[i] == separator) {
                ++i;
                continue;
            }
            break;
        }
        i += text.compare(i, 2, "\r\n") == 0 ? 2 : i < size ? 1 : 0;
        rows.push_back(std::move(row));
    }
    return true;
}

bool Blank(const CsvRow& row) {
    for (const std::string& cell : row.cells) {
        if (!cell.empty()) {
            return false;
        }
    }
    return true;
}

}  // namespace

void ParseTargetsCsv(const std::string& text,
                     const std::string& origin,
                     std::vector<TargetLine>& lines,
                     std::vector<std::string>& errors) {
    std::vector<CsvRow> rows;
    std::string error;
    if (!SplitCsv(text, origin, rows, error)) {
        errors.push_back(error);
        return;
    }
    if (rows.empty()) {
        return;
    }
    const std::vector<std::string>& header = rows[0].cells;
    std::set<std::string> known, seen;
    for (const ProfileKey& key : ProfileKeys()) {
        known.insert(key.name);
    }
    const std::string prefix = kLabelPrefix;
    const size_t before = errors.size();
    for (size_t column = 0; column < header.size(); ++column) {
        const std::string where = origin + " row 1, column " + std::to_string(column + 1) + ": ";
        const std::string& name = header[column];
        const bool label = name.compare(0, prefix.size(), prefix) == 0;
        if (column == 0 && name != "target") {
            errors.push_back(where + ShownText(name, 64) +
                             ": the first column is 'target', the others the profile's dotted names "
                             "(lan.ip, bt-name, wifi-station.ip, ...), label.NAME or //comments");
        } else if (column > 0 && name.compare(0, 2, "//") == 0) {
            continue;  // a comment: any number of them, of any name
        } else if (column > 0 && label && !ValidLabelName(name.substr(prefix.size()))) {
            errors.push_back(where + ShownText(name, 64) + ": " + kLabelNameRule);
        } else if (column > 0 && !label && known.count(name) == 0) {
            errors.push_back(where + ShownText(name, 64) +
                             ": not a profile key (dotted names like lan.ip, bt-name, wifi-station.ip), "
                             "label.NAME or a //comment");
        } else if (!seen.insert(name).second) {
            errors.push_back(where + name + ": a second column of that name");
        }
    }
    if (errors.size() != before) {
        return;
    }
    for (size_t r = 1; r < rows.size(); ++r) {
        const CsvRow& row = rows[r];
        const std::string where = origin + " row " + std::to_string(row.number);
        if (Blank(row)) {
            continue;
        }
        if (row.cells.size() != header.size()) {
            errors.push_back(where + ": " + std::to_string(row.cells.size()) +
                             " columns, where the header has " + std::to_string(header.size()));
            continue;
        }
        if (row.cells[0].empty()) {
            errors.push_back(where + ", column 1: no target");
            continue;
        }
        TargetLine line;
        line.origin = where;
        line.target = row.cells[0];
        for (size_t column = 1; column < header.size(); ++column) {
            const std::string& name = header[column];
            if (row.cells[column].empty() || name.compare(0, 2, "//") == 0) {
                continue;
            }
            if (name.compare(0, prefix.size(), prefix) == 0) {
                AddLabel(line, name.substr(prefix.size()), row.cells[column],
                         where + ", column " + std::to_string(column + 1), errors);
            } else {
                line.overrides.push_back(name + "=" + row.cells[column]);
            }
        }
        lines.push_back(std::move(line));
    }
}

bool IsCsvName(const std::string& path) {
    return path.size() >= 4 && LowerCase(path.substr(path.size() - 4)) == ".csv";
}

std::string CsvCell(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

namespace {

// A targets file as UTF-8: one saved as UTF-16 with its byte order mark (as Windows editors save
// "Unicode" text, and spreadsheets "Unicode text") is converted. False with `problem` for other
// text that holds 00 bytes, which would be read as garbled targets.
bool TargetsAsUtf8(const std::string& bytes, std::string& text, std::string& problem) {
    const bool little = bytes.compare(0, 2, "\xFF\xFE") == 0, big = bytes.compare(0, 2, "\xFE\xFF") == 0;
    if ((little || big) && bytes.size() % 2 == 0) {
        WideString wide;
        for (size_t i = 2; i < bytes.size(); i += 2) {
            const auto first = static_cast<unsigned char>(bytes[i]),
                       second = static_cast<unsigned char>(bytes[i + 1]);
            wide += static_cast<WideChar>(little ? first | second << 8 : first << 8 | second);
        }
        text = WideToUtf8(wide);
        return true;
    }
    if (little || big || bytes.find('\0') != std::string::npos) {
        problem = "holds 00 bytes, and is not UTF-16 with a byte order mark: save it as UTF-8 text";
        return false;
    }
    text = bytes;
    return true;
}

}  // namespace

std::vector<TargetLine> ReadTargetLines(const TargetSources& sources, std::vector<std::string>& errors) {
    std::vector<TargetLine> lines;
    if (!sources.port.empty()) {
        lines.push_back(TargetLine{"--port", sources.port, {}, {}});
    }
    for (const std::string& target : sources.targets) {
        lines.push_back(
            TargetLine{sources.targetsOrigin.empty() ? target : sources.targetsOrigin, target, {}, {}});
    }
    if (sources.file.empty()) {
        if (!sources.labels.empty()) {
            errors.push_back("--label: selects lines of a targets file (--targets); give one");
        }
        return lines;
    }
    std::string read, problem, converted;
    const std::string* text = sources.fileText;
    if (text == nullptr) {
        if (!ReadFileBytes(sources.file, kMaxTargetsBytes, read, problem)) {
            errors.push_back("--targets: " + problem);
            return lines;
        }
        text = &read;
    }
    if (!TargetsAsUtf8(*text, converted, problem)) {
        errors.push_back(FileLabel(sources.file) + ": " + problem);
        return lines;
    }
    text = &converted;
    const size_t given = lines.size(), before = errors.size();
    (IsCsvName(sources.file) ? ParseTargetsCsv : ParseTargetsText)(*text, FileLabel(sources.file), lines,
                                                                   errors);
    if (sources.labels.empty()) {
        return lines;
    }
    // Only the file's lines with every label asked for: one spreadsheet serves every shop.
    TargetLabels selectors;
    if (!ParseLabelSelectors(sources.labels, selectors, errors)) {
        return lines;
    }
    if (given > 0) {
        errors.push_back("--label: selects lines of the targets file; " + lines.front().origin +
                         " names printers without labels");
        return lines;
    }
    for (const TargetLine& line : lines) {
        for (const auto& wanted : selectors) {
            const std::string* value = FindLabel(line.labels, wanted.first);
            if (value != nullptr && IsTemplate(*value)) {
                errors.push_back("--label: " + line.origin + " numbers its printers' " + wanted.first + " (" +
                                 ShownText(*value, 64) + "): select by a label that the line gives");
                return lines;
            }
        }
    }
    lines.erase(
        std::remove_if(lines.begin(), lines.end(),
                       [&selectors](const TargetLine& line) { return !LabelsMatch(line.labels, selectors); }),
        lines.end());
    if (lines.empty() && errors.size() == before) {
        std::string asked;
        for (const std::string& label : sources.labels) {
            asked += (asked.empty() ? "" : " ") + label;
        }
        errors.push_back("--label: no line of " + FileLabel(sources.file) + " has " + ShownText(asked, 128));
    }
    return lines;
}

bool TargetClaims::Claim(const Target& target,
                         const std::string& origin,
                         std::vector<std::string>& errors,
                         const std::string& because) {
    const auto known = m_seen.emplace(TargetIdentity(target), origin);
    if (!known.second) {
        errors.push_back(origin + ": " + target.name + " is already a target (" + known.first->second + ")" +
                         because);
    }
    return known.second;
}

std::vector<Target> ExpandTargetLines(const std::vector<TargetLine>& lines,
                                      std::vector<std::string>& errors,
                                      const TargetRules& rules) {
    std::vector<Target> found;
    TargetClaims claims;
    std::vector<std::string> twice;  // not said when a printer named twice is kept once
    for (const TargetLine& line : lines) {
        std::vector<Target> expanded;
        std::string problem;
        if (!ExpandTargetLine(line, expanded, problem)) {
            errors.push_back(line.origin + ": " + problem);
            continue;
        }
        for (Target& target : expanded) {
            if (!claims.Claim(target, line.origin, rules.once ? errors : twice)) {
                continue;
            }
            found.push_back(std::move(target));
            if (rules.most != 0 && found.size() > rules.most) {
                errors.push_back("more than " + std::to_string(rules.most) + " printers in one request");
                return {};
            }
        }
    }
    return found;
}

bool ExpandTarget(const std::string& text,
                  bool windowsNames,
                  std::vector<Target>& targets,
                  std::string& error) {
    const std::string scheme = "socket://";
    if (text.compare(0, scheme.size(), scheme) == 0) {
        const std::string rest = text.substr(scheme.size());
        const size_t colon = rest.rfind(':');
        const std::string host = rest.substr(0, colon);
        if (LooksLikeAddressRange(host)) {
            int tcpPort = 9100;
            if (colon != std::string::npos && !ParseTcpPort(rest.substr(colon + 1), tcpPort, error)) {
                return false;
            }
            std::vector<uint32_t> addresses;
            if (!ParseAddressRange(host, addresses, error)) {
                return false;
            }
            // A network's own address and its broadcast address are no printer's (a /31 or /32
            // has neither).
            if (host.find('/') != std::string::npos && addresses.size() >= 4) {
                addresses.erase(addresses.end() - 1);
                addresses.erase(addresses.begin());
            }
            const std::string portSuffix = colon == std::string::npos ? "" : ":" + std::to_string(tcpPort);
            for (uint32_t address : addresses) {
                Target target;
                target.port.kind = PortUri::Kind::Socket;
                target.port.host = FormatAddress(address);
                target.port.tcpPort = tcpPort;
                target.name = scheme + target.port.host + portSuffix;
                targets.push_back(std::move(target));
            }
            return true;
        }
    }
    Target target;
    if (!ParsePortUri(text, windowsNames, target.port, error)) {
        return false;
    }
    // A device's name must lead to a device: never is a file of this computer written as a port.
    if (!target.port.device.empty()) {
        error = NotADevice(target.port.device);
        if (!error.empty()) {
            return false;
        }
    }
    target.name = text;
    switch (target.port.kind) {
        case PortUri::Kind::Socket:
            break;
        case PortUri::Kind::Usb:
            target.device = "usb";  // the search may find any of them: one USB printer at a time
            break;
        case PortUri::Kind::PortIndex:
            target.device = target.port.portIndex == 0 ? "usb" : TargetIdentity(target);
            break;
        default:
            target.device = TargetIdentity(target);
            break;
    }
    targets.push_back(std::move(target));
    return true;
}

bool ExpandTargetLine(const TargetLine& line, std::vector<Target>& targets, std::string& error) {
    const size_t before = targets.size();
    if (!ExpandTarget(line.target, kWindowsPortNames, targets, error)) {
        return false;
    }
    const bool numbered = NumbersPrinters(line.labels);
    const auto labels = line.labels.empty() ? nullptr : std::make_shared<const TargetLabels>(line.labels);
    for (size_t i = before; i < targets.size(); ++i) {
        targets[i].number = line.firstNumber + (i - before);
        targets[i].labels =
            numbered ? std::make_shared<const TargetLabels>(NumberedLabels(line.labels, targets[i].number))
                     : labels;
    }
    return true;
}

const TargetLabels& LabelsOf(const Target& target) {
    static const TargetLabels none;
    return target.labels ? *target.labels : none;
}

namespace {

bool IsSequenceValue(const std::string& assignment, size_t equals) {
    const std::string suffix = ".ip";
    return equals != std::string::npos && equals >= suffix.size() &&
           assignment.compare(equals - suffix.size(), suffix.size(), suffix) == 0 &&
           assignment.size() > equals + 1 && assignment.back() == '+';
}

}  // namespace

bool HasSequence(const std::vector<std::string>& overrides) {
    for (const std::string& assignment : overrides) {
        if (IsSequenceValue(assignment, assignment.find('='))) {
            return true;
        }
    }
    return false;
}

bool CountSequences(const std::vector<std::string>& overrides,
                    size_t count,
                    std::vector<std::vector<std::string>>& counted,
                    std::string& error) {
    counted.assign(count, overrides);
    for (size_t i = 0; i < overrides.size(); ++i) {
        const std::string& assignment = overrides[i];
        const size_t equals = assignment.find('=');
        if (!IsSequenceValue(assignment, equals)) {
            continue;
        }
        const std::string key = assignment.substr(0, equals);
        const std::string start = assignment.substr(equals + 1, assignment.size() - equals - 2);
        uint32_t first = 0;
        if (!ParseAddress(start, first)) {
            error = key + ": " + ShownText(start, 64) +
                    "+ is not a sequence: it counts up from an address (like " + key + "=192.168.1.51+)";
            return false;
        }
        if ((first & 0xFF) + count > 256) {
            error = key + ": " + FormatAddress(first) + "+ would leave " + FormatAddress(first & ~0xFFu) +
                    "/24: it is counted up for " + std::to_string(count) + " printers, and " +
                    FormatAddress(first | 0xFFu) + " is the last address there";
            return false;
        }
        for (size_t k = 0; k < count; ++k) {
            counted[k][i] = key + "=" + FormatAddress(first + static_cast<uint32_t>(k));
        }
    }
    return true;
}

std::string TargetIdentity(const Target& target) {
    const PortUri& port = target.port;
    switch (port.kind) {
        case PortUri::Kind::Socket: {
            // An address by its value, so that no second way of writing it makes a second printer.
            uint32_t address = 0;
            const std::string host =
                ParseAddress(port.host, address) ? FormatAddress(address) : LowerCase(port.host);
            return "socket://" + host + ":" + std::to_string(port.tcpPort);
        }
        case PortUri::Kind::Serial:
        case PortUri::Kind::Parallel:
            // The device itself, however its name is written (a link, "//", "\\.\com1").
            return DeviceIdentity(port.device);
        case PortUri::Kind::Usb:
            return "usb:" + (port.device.empty() ? "" : DeviceIdentity(port.device));
        case PortUri::Kind::PortIndex:
            // USB001 is the USB printer found, as usb: is.
            return port.portIndex == 0 ? "usb:"
                   : port.portIndex > 0 && port.portIndex < static_cast<int>(std::size(kPortIndexNames))
                       ? kPortIndexNames[port.portIndex]
                       : "?";
    }
    return target.name;
}

std::vector<std::vector<size_t>> TargetLanes(size_t count,
                                             const std::function<const Target&(size_t)>& targetOf) {
    std::vector<std::vector<size_t>> lanes;
    std::map<std::string, size_t> deviceLanes;
    for (size_t i = 0; i < count; ++i) {
        const std::string& device = targetOf(i).device;
        if (device.empty()) {
            lanes.push_back({i});
            continue;
        }
        const auto lane = deviceLanes.emplace(device, lanes.size());
        if (lane.second) {
            lanes.emplace_back();
        }
        lanes[lane.first->second].push_back(i);
    }
    return lanes;
}
