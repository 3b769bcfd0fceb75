// The console's JSON answers: what it sends back, and its errors ({"error": ..., "problems": [...]}).
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "http/HttpServer.h"

using ConsoleJson = nlohmann::ordered_json;

/// `json` as the answer, with `status`.
inline HttpReply JsonReply(const ConsoleJson& json, int status = 200) {
    HttpReply reply;
    reply.status = status;
    reply.contentType = "application/json";
    // Text that is not UTF-8 (a name as typed) is sent with U+FFFD instead of failing.
    reply.body = json.dump(2, ' ', false, ConsoleJson::error_handler_t::replace) + "\n";
    reply.headers = {{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}};
    return reply;
}

/// {"error": FIRST} with `status`, and "problems" with them all when there are several.
inline HttpReply ErrorReply(int status, const std::vector<std::string>& problems) {
    ConsoleJson json = {{"error", problems.empty() ? std::string("unknown error") : problems.front()}};
    if (problems.size() > 1) {
        json["problems"] = problems;
    }
    return JsonReply(json, status);
}

inline HttpReply ErrorReply(int status, const std::string& problem) {
    return ErrorReply(status, std::vector<std::string>{problem});
}
