#include "tolctl/Suggest.h"

#include <algorithm>
#include <vector>

#include "values/Values.h"

namespace {

// Edits that turn `a` into `b`: letters added, left out or changed, and neighbours swapped
// (the optimal string alignment distance).
size_t EditDistance(const std::string& a, const std::string& b) {
    const size_t columns = b.size() + 1;
    std::vector<size_t> d((a.size() + 1) * columns);
    for (size_t i = 0; i <= a.size(); ++i) {
        for (size_t j = 0; j <= b.size(); ++j) {
            size_t& at = d[i * columns + j];
            if (i == 0 || j == 0) {
                at = i + j;
                continue;
            }
            at = std::min({d[(i - 1) * columns + j] + 1, d[i * columns + j - 1] + 1,
                           d[(i - 1) * columns + j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                at = std::min(at, d[(i - 2) * columns + j - 2] + 1);
            }
        }
    }
    return d.back();
}

}  // namespace

std::string ClosestWord(const std::string& typed, const std::vector<std::string>& known) {
    const std::string word = LowerCase(typed);
    if (word.empty()) {
        return "";
    }
    std::vector<std::string> begun;
    for (const std::string& candidate : known) {
        if (word.size() >= 3 && candidate.compare(0, word.size(), word) == 0 &&
            std::find(begun.begin(), begun.end(), candidate) == begun.end()) {
            begun.push_back(candidate);
        }
    }
    if (begun.size() == 1) {
        return begun.front();
    }
    std::string best;
    size_t bestDistance = word.size() <= 4 ? 2 : 3;  // one past the edits allowed
    for (const std::string& candidate : known) {
        const size_t distance = EditDistance(word, candidate);
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}
