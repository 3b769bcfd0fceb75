// A small HTTP client for the tests and benchmarks of the pages tolctl serves: one request, its
// whole answer (a streamed one read to its end).
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

/// What a request was answered with.
struct HttpAnswer {
    int status = 0;                              // 0: no answer (`error` says why)
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    std::string error;

    std::string Header(const std::string& name) const;
};

/// Sends `method` `path` to `address`:`port` (IPv4) with `headers` (a "Host" given here replaces
/// the one made from the address) and `body` (sent as JSON when not empty), and reads the answer,
/// waiting at most `timeoutSeconds` for each piece.
HttpAnswer HttpFetch(const std::string& address,
                     int port,
                     const std::string& method,
                     const std::string& path,
                     const std::vector<std::pair<std::string, std::string>>& headers = {},
                     const std::string& body = "",
                     int timeoutSeconds = 30);
