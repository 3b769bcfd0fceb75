// Labels of printers (the shop, the till: a targets file's label.NAME columns or words), the
// selection of printers by their labels (--label NAME=VALUE), and the templates that put a
// printer's labels and number into its text values ("{label.shop}-Till-{n}").
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

/// A printer's labels, NAME and value, in the order their file gave them; no value is empty.
using TargetLabels = std::vector<std::pair<std::string, std::string>>;

/// The prefix of a label's column or word: "label.shop".
extern const char kLabelPrefix[];

/// Most characters of a label's name.
constexpr size_t kMaxLabelName = 32;

/// Whether `name` is a label's name: 1-32 ASCII letters, digits and _.
bool ValidLabelName(const std::string& name);

/// What ValidLabelName takes, as messages say it: "a label's name is ...".
extern const char kLabelNameRule[];

/// Empty when `value` may be a label's value: UTF-8 without control characters or braces.
std::string LabelValueProblem(const std::string& value);

/// Empty when `value` may be a label's value in a line of targets: as LabelValueProblem, or a
/// template whose only placeholder is {n}, which numbers the line's printers (label.till={n}).
std::string LineLabelValueProblem(const std::string& value);

/// Whether a label of the line's `labels` numbers its printers ({n}).
bool NumbersPrinters(const TargetLabels& labels);

/// The labels of printer `number` of a line whose labels are `labels`: each {n} filled in.
TargetLabels NumberedLabels(const TargetLabels& labels, size_t number);

/// The value of label `name`, or null when the printer has none.
const std::string* FindLabel(const TargetLabels& labels, const std::string& name);

/// `labels` as "shop=North,till=3" (the table's LABELS column).
std::string LabelsText(const TargetLabels& labels);

/// The label's name as a Prometheus label name: itself, or with "label_" before it when it begins
/// with a digit or "__" (reserved), or is "target" (the printer's own label).
std::string PrometheusLabelName(const std::string& name);

/// Reads --label NAME=VALUE selectors: false with "--label ...: what is wrong" in `errors`. An
/// empty VALUE selects the printers without that label.
bool ParseLabelSelectors(const std::vector<std::string>& given,
                         TargetLabels& selectors,
                         std::vector<std::string>& errors);

/// Whether `labels` has every label of `selectors` (an empty value: has none of that name).
bool LabelsMatch(const TargetLabels& labels, const TargetLabels& selectors);

/// Whether a text value is a template: it holds a brace.
bool IsTemplate(const std::string& text);

/// Empty when `text` is a well-made template: {label.NAME} and {n} its placeholders, {{ and }}
/// a brace each. Else what is wrong ("'{shop}' is not a placeholder: ...").
std::string TemplateProblem(const std::string& text);

/// `text` (TemplateProblem empty) with each placeholder filled in for a printer of `labels`
/// that is number `number` of its line. False with `problem` when it names a label the printer
/// has not.
bool ExpandTemplate(const std::string& text,
                    const TargetLabels& labels,
                    size_t number,
                    std::string& expanded,
                    std::string& problem);
