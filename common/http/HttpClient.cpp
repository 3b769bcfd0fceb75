#include "http/HttpClient.h"

#include "http/Httplib.h"

#include <algorithm>
#include <cctype>

std::string HttpAnswer::Header(const std::string& name) const {
    const auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
}

HttpAnswer HttpFetch(const std::string& address,
                     int port,
                     const std::string& method,
                     const std::string& path,
                     const std::vector<std::pair<std::string, std::string>>& headers,
                     const std::string& body,
                     int timeoutSeconds) {
    httplib::Client client(address, port);
    client.set_connection_timeout(timeoutSeconds, 0);
    client.set_read_timeout(timeoutSeconds, 0);
    client.set_write_timeout(timeoutSeconds, 0);
    httplib::Request request;
    request.method = method;
    request.path = path;
    for (const auto& header : headers) {
        request.headers.emplace(header.first, header.second);
    }
    if (!body.empty() || method == "POST" || method == "PUT") {
        request.body = body;
        if (!request.has_header("Content-Type")) {
            request.headers.emplace("Content-Type", "application/json");
        }
    }
    HttpAnswer answer;
    const httplib::Result result = client.send(request);
    if (!result) {
        answer.error = httplib::to_string(result.error());
        return answer;
    }
    answer.status = result->status;
    answer.body = result->body;
    for (const auto& header : result->headers) {
        std::string name = header.first;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        answer.headers.emplace(name, header.second);
    }
    return answer;
}
