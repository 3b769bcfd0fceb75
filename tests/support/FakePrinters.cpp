#include "tests/support/FakePrinters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <system_error>

#include "emulator/Emulator.h"
#include "system/ErrnoText.h"

namespace {

// "A.B.C.D" split into "A.B.C." and D; D is -1 when `address` is not of that form.
int LastPart(const std::string& address, std::string& front) {
    const size_t dot = address.rfind('.');
    front = address.substr(0, dot + 1);
    try {
        return dot == std::string::npos ? -1 : std::stoi(address.substr(dot + 1));
    } catch (const std::exception&) {
        return -1;
    }
}

}  // namespace

FakeFleet::FakeFleet(const std::vector<Setup>& setups, const std::string& first, int port) {
    Start(setups, first, port);
    EXPECT_EQ(m_failure, "") << "the fake printers do not listen";
}

void FakeFleet::Start(const std::vector<Setup>& setups, const std::string& first, int port) {
    std::string front;
    const int last = LastPart(first, front);
    for (size_t i = 0; i < setups.size(); ++i) {
        Printer printer;
        printer.m_fleet = this;
        printer.m_address = front + std::to_string(last + static_cast<int>(i));
        m_printers.push_back(printer);
    }
    const std::string bind =
        setups.size() > 1 ? first + "-" + std::to_string(last + static_cast<int>(setups.size()) - 1) : first;
    std::vector<PlannedPrinter> planned;
    if (last < 0 || setups.empty() || !PlanPrinters(bind, {}, planned, m_failure)) {
        m_failure = "no printers at " + bind + ": " + m_failure;
        return;
    }
    for (size_t i = 0; i < setups.size(); ++i) {
        planned[i].fault = setups[i].fault;
        planned[i].condition = setups[i].condition;
    }
    try {
        m_emulator = std::make_unique<Emulator>(0, std::chrono::seconds(60),
                                                EmulatorCallbacks{[this](const Delivery& delivery) {
                                                                      Delivered(delivery);
                                                                      return true;
                                                                  },
                                                                  [](const EmulatorProblem&) {}});
    } catch (const std::system_error& failure) {
        m_failure = "no event loop: " + ErrorCodeText(failure.code());
        return;
    }
    std::string where;
    std::error_code error;
    if (!m_emulator->Listen(planned, port, where, error)) {
        m_failure = "cannot listen on " + where + ": " + ErrorCodeText(error);
        m_emulator.reset();
        return;
    }
    m_port = m_emulator->Port();
    m_thread = std::thread([this] { m_emulator->Run(); });
}

FakeFleet::~FakeFleet() {
    if (m_thread.joinable()) {
        m_emulator->Stop();
        m_thread.join();
    }
}

void FakeFleet::Delivered(const Delivery& delivery) {
    const std::string address = delivery.name.substr(0, delivery.name.rfind(':'));
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Printer& printer : m_printers) {
        if (printer.m_address == address) {
            ++printer.m_accepted;
            if (delivery.ending != Delivery::Ending::Reset) {
                printer.m_received.emplace_back(delivery.bytes.begin(), delivery.bytes.end());
            }
        }
    }
    m_arrived.notify_all();
}

std::string FakeFleet::Printer::Uri() const {
    return "socket://" + m_address + ":" + std::to_string(m_fleet->Port());
}

std::vector<std::string> FakeFleet::Printer::Received() const {
    std::lock_guard<std::mutex> lock(m_fleet->m_mutex);
    return m_received;
}

int FakeFleet::Printer::Accepted() const {
    std::lock_guard<std::mutex> lock(m_fleet->m_mutex);
    return m_accepted;
}

bool FakeFleet::Printer::NextConnection(std::string& bytes, int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_fleet->m_mutex);
    if (!m_fleet->m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [this] { return m_taken < m_received.size(); })) {
        return false;
    }
    bytes = m_received[m_taken++];
    return true;
}

int FakeFleet::Printer::CountConnections(int timeoutMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    std::lock_guard<std::mutex> lock(m_fleet->m_mutex);
    const int count = static_cast<int>(m_received.size() - m_taken);
    m_taken = m_received.size();
    return count;
}
