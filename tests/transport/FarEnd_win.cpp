// The far end under Wine: the fakes that tests/wine/bench.sh makes behind the DOS device names
// on request, and USB printer interfaces faked in the registry. The fixture also holds Windows
// Sockets for the whole test, and checks at its end that every start of the messengers was
// matched by its cleanup.
#include "tests/transport/FarEnd.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "tests/wine/FakeUsbPrinter.h"
#include "tests/wine/WineBench.h"
#include "transport/PortFactory.h"
#include "transport/UsbMessenger.h"

const Failure kNotFound = {ERROR_FILE_NOT_FOUND, ""};
const Failure kNoSuchPort = {ERROR_FILE_NOT_FOUND, ""};
const Failure kNoUsbPrinter = {ERROR_DEVICE_NOT_CONNECTED, "no USB printer connected"};
const Failure kWillNotOpen = {ERROR_FILE_NOT_FOUND, ""};  // no device behind the interface's path
const Failure kWriteTimedOut = {WAIT_TIMEOUT, ""};
const Failure kConnectTimedOut = {WSAETIMEDOUT, ""};
const Failure kRefused = {WSAECONNREFUSED, ""};

namespace bench = wine_bench;

namespace {

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// "^A" is 1, "^?" is 127, "<undef>" is 0.
int ControlChar(const std::string& word) {
    if (word.size() == 2 && word[0] == '^') {
        return word[1] == '?' ? 127 : (word[1] & 0x1F);
    }
    return word == "<undef>" ? 0 : (word.size() == 1 ? static_cast<unsigned char>(word[0]) : -1);
}

// The words of `stty -a`, as the pty end that the program opens has them.
LineSettings ParseStty(const std::string& stty) {
    LineSettings line;
    std::string text = stty;
    for (char& c : text) {
        if (c == ';') {
            c = ' ';
        }
    }
    std::istringstream words(text);
    std::string word;
    std::string previous;
    std::string beforePrevious;
    const std::map<std::string, bool LineSettings::*> flags = {
        {"parenb", &LineSettings::parity},      {"cstopb", &LineSettings::twoStopBits},
        {"crtscts", &LineSettings::rtsCts},     {"ixon", &LineSettings::xonOutput},
        {"ixoff", &LineSettings::xoffInput},    {"ixany", &LineSettings::anyRestarts},
        {"opost", &LineSettings::outputCooked}, {"icanon", &LineSettings::canonical},
        {"echo", &LineSettings::echo},          {"isig", &LineSettings::signals}};
    while (words >> word) {
        if (word == "baud") {
            const int baud = std::atoi(previous.c_str());
            if (beforePrevious == "speed" || beforePrevious == "ispeed") {
                line.inputBaud = baud;
            }
            if (beforePrevious == "speed" || beforePrevious == "ospeed") {
                line.outputBaud = baud;
            }
        } else if (previous == "=" && beforePrevious == "start") {
            line.startChar = ControlChar(word);
        } else if (previous == "=" && beforePrevious == "stop") {
            line.stopChar = ControlChar(word);
        } else if (word.size() == 3 && word.compare(0, 2, "cs") == 0 && std::isdigit(word[2])) {
            line.dataBits = word[2] - '0';
        } else {
            const bool off = word[0] == '-';
            const auto flag = flags.find(off ? word.substr(1) : word);
            if (flag != flags.end()) {
                line.*(flag->second) = !off;
            }
        }
        beforePrevious = previous;
        previous = word;
    }
    return line;
}

class BenchEnd : public PortEnd {
  public:
    BenchEnd(std::string name, std::string device, EndKind kind)
        : m_strName(std::move(name)), m_strDevice(std::move(device)), m_kind(kind) {
        Make();
    }

    std::string Device() const override { return m_strDevice; }

    // The bench keeps everything that arrived; the part before the last Take is left out.
    std::string Take(size_t atLeast) override {
        const std::string all = bench::Captured(m_strName, m_nTaken + atLeast);
        const std::string taken = all.size() > m_nTaken ? all.substr(m_nTaken) : std::string();
        m_nTaken = all.size() > m_nTaken ? all.size() : m_nTaken;
        return taken;
    }

    bool Send(const std::string& bytes) override { return bench::Inject(m_strName, bytes); }
    bool AnswerStatus(const std::string& answers) override { return bench::AnswerStatus(m_strName, answers); }
    int Holders() override { return bench::Holders(m_strName); }

    LineSettings Line() override {
        const std::string stty = bench::Stty(m_strName);
        if (stty.empty()) {
            ADD_FAILURE() << m_strName << ": no line settings";
        }
        return ParseStty(stty);
    }

    bool Preset(const std::string& settings) override { return bench::Preset(m_strName, settings); }
    bool Drain() override { return bench::Drain(m_strName); }
    bool Unplug() override { return bench::Unplug(m_strName); }

    bool Replug() override {
        m_nTaken = 0;  // a new fake starts a new record
        return Make();
    }

  private:
    bool Make() {
        bool made = false;
        switch (m_kind) {
            case EndKind::Line:
            case EndKind::RawLine:
            case EndKind::Printer:
                made = bench::Pty(m_strName);
                break;
            case EndKind::Stalled:
                made = bench::Stall(m_strName);
                break;
            case EndKind::Unopenable:
                made = bench::Absent(m_strName);
                break;
        }
        if (!made) {
            ADD_FAILURE() << "the bench could not make " << m_strName;
        }
        return made;
    }

    std::string m_strName;
    std::string m_strDevice;
    EndKind m_kind;
    size_t m_nTaken = 0;
};

const char* const kIndexNames[] = {"usb", "lpt1", "lpt2", "lpt3", "com1", "com2"};

}  // namespace

int WinsockUses() {
    int uses = 0;
    while (WSACleanup() == 0) {
        ++uses;
    }
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    for (int i = 0; i < uses; ++i) {
        WSADATA data;
        EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    return uses;
}

struct FarEndTest::Platform {
    bool winsockStarted = false;
    int winsockUses = 0;                                    // the process's uses before the test's own
    std::vector<std::string> names;                         // DOS devices the bench has touched
    std::map<std::string, std::unique_ptr<BenchEnd>> ends;  // by DOS device name
    std::map<int, std::unique_ptr<FakeUsbPrinter>> printers;
    std::vector<std::string> files;  // RegularFile's

    void Touch(const std::string& name) {
        for (const std::string& known : names) {
            if (known == name) {
                return;
            }
        }
        names.push_back(name);
    }
};

FarEndTest::FarEndTest() : m_platform(new Platform()) {}

FarEndTest::~FarEndTest() = default;

void FarEndTest::SetUp() {
    ASSERT_TRUE(bench::Available()) << "run through tests/wine/bench.sh";
    FakeUsbPrinter::RemoveAll();
    // By hand, not through WinsockSession: the end of the test looks at what WSACleanup answers.
    m_platform->winsockUses = WinsockUses();
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    m_platform->winsockStarted = true;
}

void FarEndTest::TearDown() {
    DestroyUsbMessenger();
    m_platform->ends.clear();
    for (const std::string& name : m_platform->names) {
        bench::Remove(name);
    }
    m_platform->printers.clear();
    FakeUsbPrinter::RemoveAll();
    for (const std::string& file : m_platform->files) {
        std::remove(file.c_str());
    }
    if (m_platform->winsockStarted) {
        EXPECT_EQ(WSACleanup(), 0);
        // Every WSAStartup of the messengers was matched: the process holds what it held before.
        EXPECT_EQ(WinsockUses(), m_platform->winsockUses);
    }
}

PortEnd& FarEndTest::Port(const std::string& name, EndKind kind) {
    m_platform->Touch(name);
    auto& end = m_platform->ends[name];
    end.reset();
    end.reset(new BenchEnd(name, Upper(name), kind));
    return *end;
}

std::string FarEndTest::Absent(const std::string& name) {
    m_platform->Touch(name);
    m_platform->ends.erase(name);
    if (!bench::Absent(name)) {
        ADD_FAILURE() << "the bench could not take " << name << " away";
    }
    return Upper(name);
}

std::string FarEndTest::RegularFile(const std::string& name, const std::string& bytes) {
    char folder[MAX_PATH + 1] = {};
    GetTempPathA(sizeof folder, folder);
    const std::string path =
        std::string(folder) + "tol-far-" + std::to_string(GetCurrentProcessId()) + "-" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    m_platform->files.push_back(path);
    return path;
}

std::string FarEndTest::FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

PortEnd& FarEndTest::UsbPrinter(int number, EndKind kind) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "FAKE%04d", number);
    auto& printer = m_platform->printers[number];
    printer.reset(new FakeUsbPrinter(serial));
    EXPECT_TRUE(printer->Created()) << serial;
    return Port(printer->DosName(), kind);
}

void FarEndTest::RemoveUsbPrinter(int number) {
    const auto printer = m_platform->printers.find(number);
    if (printer == m_platform->printers.end()) {
        return;
    }
    const std::string name = printer->second->DosName();
    m_platform->ends.erase(name);
    bench::Remove(name);
    m_platform->printers.erase(printer);
}

bool FarEndTest::AbsentPortIndex(int portIndex) {
    if (portIndex < kPortLpt1 || portIndex > kPortCom2) {
        return false;
    }
    Absent(kIndexNames[portIndex]);
    return true;
}

PipeMessenger::PipeMessenger() {
    static int counter = 0;
    const std::wstring name = L"\\\\.\\pipe\\tol-messenger-test-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(++counter);
    m_hPort.Reset(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
    m_reader.Reset(CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

PipeMessenger::~PipeMessenger() {
    CloseReader();
}

bool PipeMessenger::Ready() const {
    return m_hPort.Valid() && m_reader.Valid();
}

std::string PipeMessenger::ReadAvailable() {
    std::string bytes;
    DWORD waiting = 0;
    while (PeekNamedPipe(m_reader.Get(), nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0) {
        std::string chunk(waiting, '\0');
        DWORD got = 0;
        if (!ReadFile(m_reader.Get(), &chunk[0], waiting, &got, nullptr)) {
            break;
        }
        bytes.append(chunk, 0, got);
    }
    return bytes;
}

void PipeMessenger::CloseReader() {
    m_reader.Reset();
}

int WatchedCom::Waiting() const {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(m_hPort.Get(), &errors, &status) ? static_cast<int>(status.cbInQue) : -1;
}

SocketOwner NewTcpSocket(bool nonBlocking) {
    SocketOwner socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    u_long on = 1;
    if (socket.Valid() && nonBlocking) {
        ioctlsocket(socket.Get(), FIONBIO, &on);
    }
    return socket;
}
