// The web console (tolctl console): the page and the JSON API that serve the printer fleet in
// a browser, with its security (the token, the Host and Origin checks), its kept state and its
// apply jobs. HTTP itself is HttpServer's; this answers its requests.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fleet/StopRequest.h"
#include "http/HttpServer.h"
#include "record/Record.h"
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
    // The fleet record (null: none, --no-record): the sends, the jobs (each a roll-out of kind
    // "console") and the status reads are written to it, and the past jobs and each printer's
    // settings, history and status changes read from it.
    Record* record = nullptr;
};

/// 128 random bits, URL-safe (base64url without padding: 22 characters).
std::string MakeConsoleToken();

class ApplyJobs;
class Cmd;
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

    /// Serves the console on `server` (before it starts): the check of every request's Host,
    /// Origin and token first, then the page and each route of the API, and the server's own
    /// errors as JSON. The handlers are called on the server's threads, several at once.
    void Register(HttpServer& server);

    /// The answer for an error the server makes itself (404, 405, 413, ...): JSON as every other
    /// error.
    static HttpReply ErrorReply(const HttpRefusal& refusal);

    /// Asks the running jobs, reads and scans to stop and ends the event streams (before the
    /// server stops, which waits for the requests being answered).
    void Stop();

  private:
    bool HostAllowed(const std::string& host) const;
    bool OriginAllowed(const std::string& origin) const;
    bool Authorized(const HttpRequest& request) const;
    /// True, with the answer in `reply`, when `request` is refused before it is routed (another
    /// Host or Origin, no token).
    bool Refused(const HttpRequest& request, HttpReply& reply) const;
    HttpReply Page(const HttpRequest& request) const;
    /// Registers the API's routes (ConsoleApi.cpp).
    void RegisterApi(HttpServer& server);

    // ConsoleApi.cpp: one handler each.
    HttpReply Status(const std::string& body);
    HttpReply Scan(const std::string& body);
    HttpReply Printers();
    HttpReply ChangePrinters(const std::string& body);
    HttpReply Check(const std::string& body);
    HttpReply Apply(const std::string& body);
    HttpReply Job(const std::string& id, bool events);
    HttpReply Send(const std::string& body);
    HttpReply Commands();
    HttpReply SettingsForm();
    HttpReply ProfileNames();
    HttpReply Profile(const std::string& name);
    HttpReply KeepProfile(const std::string& name, const std::string& body);

    // ConsoleRecord.cpp: the fleet record.
    /// Job ids go on from the highest the record knows; false with `problem` when it cannot be read.
    bool ContinueJobs(std::string& problem);
    /// Sends `cmd` to `send`'s port as a roll-out of kind "console" of `settings` (the setting's
    /// dotted key, or the command's name, and its value), each noted in flight before the first
    /// byte leaves and then with its result. Not sent (with `problem`) when the record cannot
    /// note it.
    SendOutcome SendRecorded(const SendOptions& send,
                             const Cmd& cmd,
                             const std::string& command,
                             const std::string& target,
                             const std::vector<std::pair<std::string, RecordValue>>& settings,
                             std::string& problem);
    HttpReply Jobs();
    HttpReply PastJob(const std::string& id);
    HttpReply RecordedPrinter(const std::string& target);

    ConsoleSettings m_settings;
    std::string m_cookie;  // the cookie's name: the port's own
    StopRequest m_stop;    // the console stops: reads and scans under way end early
    std::unique_ptr<ConsoleState> m_state;
    std::unique_ptr<ApplyJobs> m_jobs;
};
