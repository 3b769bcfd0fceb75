// JSON as tolctl reads it: profiles, reports, the console's printer list and kept profiles, and
// the bodies of its API's requests are all parsed here, with one limit on how deep objects and
// lists may be nested.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdio>
#include <functional>
#include <string>

/// Objects and lists nested deeper than this are refused wherever tolctl reads JSON. What it
/// reads needs a few levels; a deeper value would cost stack and time wherever it is copied,
/// walked or written out, and is refused while it is parsed, before anything deeper is built.
constexpr int kMaxJsonDepth = 64;

/// Called as nlohmann's parse callback is, after the depth is checked: true keeps the value.
using JsonParseCallback = std::function<
    bool(int depth, nlohmann::ordered_json::parse_event_t event, nlohmann::ordered_json& parsed)>;

/// Parses `text` into `json`. False with `problem` saying why, never with the text read (it may
/// be a password): "not JSON: line 3, column 7: syntax error while parsing object - invalid
/// literal", or "objects and lists are nested more than 64 deep".
bool ParseJson(const std::string& text,
               nlohmann::ordered_json& json,
               std::string& problem,
               const JsonParseCallback& callback = nullptr);

/// The same, read from `file` as it is parsed (a report of many printers is large).
bool ParseJson(std::FILE* file,
               nlohmann::ordered_json& json,
               std::string& problem,
               const JsonParseCallback& callback = nullptr);
