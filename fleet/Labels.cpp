#include "fleet/Labels.h"

#include <algorithm>

#include "system/WideText.h"
#include "values/Values.h"

const char kLabelPrefix[] = "label.";

namespace {

bool IsNameCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

const char kPlaceholders[] = "{label.NAME} or {n}; {{ and }} are a brace each";

}  // namespace

const char kLabelNameRule[] = "a label's name is 1-32 letters (A-Z, a-z), digits and _";

bool ValidLabelName(const std::string& name) {
    bool good = !name.empty() && name.size() <= kMaxLabelName;
    for (const char c : name) {
        good = good && IsNameCharacter(c);
    }
    return good;
}

std::string LabelValueProblem(const std::string& value) {
    WideString wide;
    if (!Utf8ToWide(value, wide)) {
        return "a label's value is UTF-8 text";
    }
    for (const unsigned char c : value) {
        if (c < 0x20 || c == 0x7F) {
            return ShownText(value, 64) + ": a label's value holds no control characters";
        }
    }
    // A printer's label is taken as written: "{label.till}" puts it into a value as it stands.
    if (IsTemplate(value)) {
        return ShownText(value, 64) + ": a printer's label holds no braces";
    }
    return std::string();
}

const std::string* FindLabel(const TargetLabels& labels, const std::string& name) {
    for (const auto& label : labels) {
        if (label.first == name) {
            return &label.second;
        }
    }
    return nullptr;
}

std::string LabelsText(const TargetLabels& labels) {
    std::string text;
    for (const auto& label : labels) {
        text += (text.empty() ? "" : ",") + label.first + "=" + label.second;
    }
    return text;
}

std::string PrometheusLabelName(const std::string& name) {
    const bool clash = name.empty() || (name[0] >= '0' && name[0] <= '9') || name.compare(0, 2, "__") == 0 ||
                       name == "target";
    return clash ? "label_" + name : name;
}

bool ParseLabelSelectors(const std::vector<std::string>& given,
                         TargetLabels& selectors,
                         std::vector<std::string>& errors) {
    const size_t before = errors.size();
    for (const std::string& text : given) {
        const size_t equals = text.find('=');
        const std::string name = text.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : text.substr(equals + 1);
        std::string problem = equals == std::string::npos
                                  ? ShownText(text, 64) + " is not NAME=VALUE (like --label shop=North)"
                              : !ValidLabelName(name) ? ShownText(name, 64) + ": " + kLabelNameRule
                                                      : "";
        if (problem.empty() && !value.empty()) {
            problem = LabelValueProblem(value);
        }
        if (!problem.empty()) {
            errors.push_back("--label: " + problem);
            continue;
        }
        selectors.emplace_back(name, value);
    }
    return errors.size() == before;
}

bool LabelsMatch(const TargetLabels& labels, const TargetLabels& selectors) {
    for (const auto& wanted : selectors) {
        const std::string* value = FindLabel(labels, wanted.first);
        if (wanted.second.empty() ? value != nullptr : value == nullptr || *value != wanted.second) {
            return false;
        }
    }
    return true;
}

std::string LineLabelValueProblem(const std::string& value) {
    if (!IsTemplate(value)) {
        return LabelValueProblem(value);
    }
    std::string problem = TemplateProblem(value), made;
    if (problem.empty() && !ExpandTemplate(value, {}, 1, made, problem)) {
        problem = ShownText(value, 64) + ": a label numbers its line's printers with {n}, and names no label";
    }
    if (problem.empty() && IsTemplate(made)) {
        problem = ShownText(value, 64) + ": a printer's label holds no braces";
    }
    return problem.empty() ? LabelValueProblem(made) : problem;
}

bool NumbersPrinters(const TargetLabels& labels) {
    return std::any_of(labels.begin(), labels.end(),
                       [](const auto& label) { return IsTemplate(label.second); });
}

TargetLabels NumberedLabels(const TargetLabels& labels, size_t number) {
    TargetLabels numbered = labels;
    for (auto& label : numbered) {
        std::string made, problem;
        if (IsTemplate(label.second) && ExpandTemplate(label.second, {}, number, made, problem)) {
            label.second = std::move(made);
        }
    }
    return numbered;
}

bool IsTemplate(const std::string& text) {
    return text.find_first_of("{}") != std::string::npos;
}

namespace {

// Walks a template: `literal` for each run of text, `placeholder` for each {NAME}. False with
// `problem` where it is not well made, or where `placeholder` says so.
template <typename Literal, typename Placeholder>
bool WalkTemplate(const std::string& text, Literal literal, Placeholder placeholder, std::string& problem) {
    for (size_t i = 0; i < text.size();) {
        const size_t brace = text.find_first_of("{}", i);
        literal(text.substr(i, brace - i));
        if (brace == std::string::npos) {
            break;
        }
        if (brace + 1 < text.size() && text[brace + 1] == text[brace]) {
            literal(text.substr(brace, 1));  // {{ or }}
            i = brace + 2;
            continue;
        }
        if (text[brace] == '}') {
            problem = "a } without its {: write }} for a brace (placeholders are " +
                      std::string(kPlaceholders) + ")";
            return false;
        }
        const size_t close = text.find('}', brace);
        const size_t open = text.find('{', brace + 1);
        if (close == std::string::npos || (open != std::string::npos && open < close)) {
            problem = "a { is not closed: write {{ for a brace (placeholders are " +
                      std::string(kPlaceholders) + ")";
            return false;
        }
        const std::string name = text.substr(brace + 1, close - brace - 1);
        const std::string prefix = kLabelPrefix;
        const bool label = name.compare(0, prefix.size(), prefix) == 0;
        if (name != "n" && !(label && ValidLabelName(name.substr(prefix.size())))) {
            problem = ShownText(text.substr(brace, close - brace + 1), 64) + " is not a placeholder: write " +
                      kPlaceholders;
            return false;
        }
        if (!placeholder(name, label ? name.substr(prefix.size()) : std::string(), problem)) {
            return false;
        }
        i = close + 1;
    }
    return true;
}

}  // namespace

std::string TemplateProblem(const std::string& text) {
    std::string problem;
    WalkTemplate(
        text, [](const std::string&) {},
        [](const std::string&, const std::string&, std::string&) { return true; }, problem);
    return problem;
}

bool ExpandTemplate(const std::string& text,
                    const TargetLabels& labels,
                    size_t number,
                    std::string& expanded,
                    std::string& problem) {
    expanded.clear();
    return WalkTemplate(
        text, [&expanded](const std::string& part) { expanded += part; },
        [&](const std::string& name, const std::string& label, std::string& why) {
            if (label.empty()) {
                expanded += std::to_string(number);
                return true;
            }
            const std::string* value = FindLabel(labels, label);
            if (value == nullptr) {
                std::string names;
                for (const auto& has : labels) {
                    names += (names.empty() ? "" : ", ") + has.first;
                }
                why = "{" + name + "}: this printer has no label " + label +
                      (names.empty() ? " (it has none)" : " (it has " + names + ")");
                return false;
            }
            expanded += *value;
            return true;
        },
        problem);
}
