#include "json/JsonParse.h"

#include <utility>

namespace {

using Json = nlohmann::ordered_json;

// Thrown by the parse callback at the first object or list nested deeper than kMaxJsonDepth.
struct TooDeep {};

// "line 3, column 7: syntax error while parsing object - invalid literal", without the text the
// parser had read: it may be a password.
std::string ParseProblem(const std::string& what) {
    std::string text = what;
    const size_t bracket = text.find("] ");
    if (text.compare(0, 1, "[") == 0 && bracket != std::string::npos) {
        text = text.substr(bracket + 2);
    }
    const size_t lastRead = text.find("; last read");
    if (lastRead != std::string::npos) {
        text.resize(lastRead);
    }
    const std::string prefix = "parse error at ";
    if (text.compare(0, prefix.size(), prefix) == 0) {
        text = text.substr(prefix.size());
    }
    return text;
}

template <typename Input>
bool Parse(Input&& input, Json& json, std::string& problem, const JsonParseCallback& callback) {
    // nlohmann's parser keeps its levels on a heap stack of its own; the callback sees each
    // object and list as it begins, at the depth of what holds it (0 for the outermost).
    const auto limit = [&callback](int depth, Json::parse_event_t event, Json& parsed) {
        if ((event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start) &&
            depth >= kMaxJsonDepth) {
            throw TooDeep{};
        }
        return !callback || callback(depth, event, parsed);
    };
    try {
        json = Json::parse(std::forward<Input>(input), limit);
        return true;
    } catch (const Json::exception& e) {  // a syntax error, or a number too large (1e999)
        problem = "not JSON: " + ParseProblem(e.what());
    } catch (const TooDeep&) {
        problem = "objects and lists are nested more than " + std::to_string(kMaxJsonDepth) + " deep";
    }
    json = Json();
    return false;
}

}  // namespace

bool ParseJson(const std::string& text, Json& json, std::string& problem, const JsonParseCallback& callback) {
    return Parse(text, json, problem, callback);
}

bool ParseJson(std::FILE* file, Json& json, std::string& problem, const JsonParseCallback& callback) {
    return Parse(file, json, problem, callback);
}
