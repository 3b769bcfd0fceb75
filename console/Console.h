// The web console (tolctl console): the page and the JSON API that serve the printer fleet in
// a browser, with its security (the token, the Host and Origin checks), its kept state and its
// apply jobs. HTTP itself is HttpServer's; this answers its requests.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "fleet/StopRequest.h"
#include "http/HttpServer.h"
#include "transport/SendCmd.h"

/// Largest request body taken.
constexpr size_t kMaxConsoleBody = 1024 * 1024;

/// How a console serves.
struct ConsoleSettings {
    std::string stateFolder;  // printers.json and profiles/ (ConsoleState), jobs/ (ApplyJobs)
    std::string address;      // the listen address (A.B.C.D) ...
    int port = 0;             // ... and port: the Host a request must name
    std::string token;        // MakeConsoleToken
    SendOptions send;         // the connect time-out and the baud rate for what is sent
    std::string version;      // tolctl's, for the reports
};

/// 128 random bits, URL-safe (base64url without padding: 22 characters).
std::string MakeConsoleToken();

class ApplyJobs;
class ConsoleState;

class Console {
  public:
    explicit Console(ConsoleSettings settings);
    /// Stops the jobs that run, and waits for them.
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    /// Reads the kept state (ConsoleState::Load): false with `problem` saying why; what it left
    /// out of the printer list in `dropped`.
    bool Load(std::string& problem, std::vector<std::string>& dropped);

    /// Answers one request: checks its Host, Origin and token, then serves the page or the API.
    /// Called on the server's threads, several at once.
    HttpReply Handle(const HttpRequest& request);

    /// The answer for an error the server makes itself (413, ...): JSON as every other error.
    static HttpReply ErrorReply(int status);

    /// Asks the running jobs, reads and scans to stop and ends the event streams (before the
    /// server stops, which waits for the requests being answered).
    void Stop();

  private:
    bool HostAllowed(const std::string& host) const;
    bool OriginAllowed(const std::string& origin) const;
    bool Authorized(const HttpRequest& request) const;
    HttpReply Page(const HttpRequest& request) const;
    HttpReply Api(const HttpRequest& request);

    // ConsoleApi.cpp: one handler each.
    HttpReply Status(const std::string& body);
    HttpReply Scan(const std::string& body);
    HttpReply Printers(const HttpRequest& request);
    HttpReply Check(const std::string& body);
    HttpReply Apply(const std::string& body);
    HttpReply Job(const HttpRequest& request, const std::string& rest);
    HttpReply Send(const std::string& body);
    HttpReply Commands();
    HttpReply SettingsForm();
    HttpReply Profiles(const HttpRequest& request, const std::string& rest);

    ConsoleSettings m_settings;
    std::string m_cookie;  // the cookie's name: the port's own
    StopRequest m_stop;    // the console stops: reads and scans under way end early
    std::unique_ptr<ConsoleState> m_state;
    std::unique_ptr<ApplyJobs> m_jobs;
};
