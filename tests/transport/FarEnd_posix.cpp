// The far end natively: pseudo-terminals, FIFOs and loopback sockets that the test makes in a
// folder of its own; its usb/ subfolder is the USB messenger's search folder (TOL_USB_DIR).
#include "tests/transport/FarEnd.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

#include "transport/PortFactory.h"
#include "transport/UsbMessenger.h"

const Failure kNotFound = {ENOENT, "no such file or directory"};
const Failure kNoSuchPort = {ENODEV, ""};
const Failure kNoUsbPrinter = {ENODEV, "no such device"};
const Failure kWillNotOpen = {ENXIO, ""};  // a FIFO that nobody reads
const Failure kWriteTimedOut = {ETIMEDOUT, ""};
const Failure kConnectTimedOut = {ETIMEDOUT, ""};
const Failure kRefused = {ECONNREFUSED, "connection refused"};

namespace {

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Appends what `fd` (non-blocking) holds now.
void AppendAvailable(int fd, std::string& into) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, static_cast<size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            return;  // nothing more for now, the end, or (a pty without its other side) EIO
        }
    }
}

int BaudOf(speed_t speed) {
    static const std::map<speed_t, int> kRates = {{B1200, 1200},   {B2400, 2400},     {B4800, 4800},
                                                  {B9600, 9600},   {B19200, 19200},   {B38400, 38400},
                                                  {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    const auto found = kRates.find(speed);
    return found != kRates.end() ? found->second : 0;
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

class PosixEnd : public PortEnd {
  public:
    PosixEnd(std::string path, EndKind kind) : m_strPath(std::move(path)), m_kind(kind) { Make(); }
    ~PosixEnd() override {
        StopAnswering();
        ::unlink(m_strPath.c_str());
    }

    std::string Device() const override { return m_strPath; }

    std::string Take(size_t atLeast) override {
        if (m_kind == EndKind::Stalled && !m_bDrained) {
            return "";
        }
        const Stopwatch watch;
        while (m_far.Valid()) {
            Collect();
            if (m_strArrived.size() >= atLeast || watch.Ms() >= 3000) {
                break;
            }
            SleepMs(5);
        }
        // Anything that should not be there has had time to arrive too.
        SleepMs(20);
        if (m_far.Valid()) {
            Collect();
        }
        std::string taken;
        taken.swap(m_strArrived);
        return taken;
    }

    bool Send(const std::string& bytes) override {
        return IsPty() &&
               ::write(m_far.Get(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    bool AnswerStatus(const std::string& answers) override {
        if (!IsPty() || m_answerer.joinable()) {
            return false;
        }
        m_bStopAnswering = false;
        m_answerer = std::thread([this, answers] { Answer(answers); });
        return true;
    }

    int Holders() override {
        const std::string target = RealPath(m_strPath);
        if (target.empty()) {
            return 0;
        }
        int count = 0;
        DIR* fds = ::opendir("/proc/self/fd");
        if (fds == nullptr) {
            return -1;
        }
        while (const dirent* entry = ::readdir(fds)) {
            const int fd = std::atoi(entry->d_name);
            if (entry->d_name[0] == '.' || fd == m_far.Get()) {
                continue;  // the far end's own descriptor is not the program's
            }
            char link[PATH_MAX];
            const std::string name = std::string("/proc/self/fd/") + entry->d_name;
            const ssize_t size = ::readlink(name.c_str(), link, sizeof link - 1);
            if (size > 0 && std::string(link, static_cast<size_t>(size)) == target) {
                ++count;
            }
        }
        ::closedir(fds);
        return count;
    }

    LineSettings Line() override {
        LineSettings line;
        termios tio{};
        if (!IsPty() || ::tcgetattr(m_far.Get(), &tio) != 0) {
            ADD_FAILURE() << m_strPath << ": no line settings";
            return line;
        }
        line.inputBaud = BaudOf(::cfgetispeed(&tio));
        line.outputBaud = BaudOf(::cfgetospeed(&tio));
        line.dataBits = (tio.c_cflag & CSIZE) == CS8 ? 8 : (tio.c_cflag & CSIZE) == CS7 ? 7 : 0;
        line.parity = (tio.c_cflag & PARENB) != 0;
        line.twoStopBits = (tio.c_cflag & CSTOPB) != 0;
        line.rtsCts = (tio.c_cflag & CRTSCTS) != 0;
        line.xonOutput = (tio.c_iflag & IXON) != 0;
        line.xoffInput = (tio.c_iflag & IXOFF) != 0;
        line.anyRestarts = (tio.c_iflag & IXANY) != 0;
        line.outputCooked = (tio.c_oflag & OPOST) != 0;
        line.canonical = (tio.c_lflag & ICANON) != 0;
        line.echo = (tio.c_lflag & ECHO) != 0;
        line.signals = (tio.c_lflag & ISIG) != 0;
        line.startChar = tio.c_cc[VSTART];
        line.stopChar = tio.c_cc[VSTOP];
        return line;
    }

    bool Preset(const std::string& settings) override {
        // stty's own words, as the bench under Wine takes them.
        std::string command = "stty -F '" + m_strSlave + "'";
        size_t start = 0;
        while (start < settings.size()) {
            const size_t end = settings.find(' ', start);
            const std::string word = settings.substr(start, end - start);
            if (!word.empty()) {
                command += " '" + word + "'";
            }
            start = end == std::string::npos ? settings.size() : end + 1;
        }
        return IsPty() && std::system(command.c_str()) == 0;
    }

    bool Drain() override {
        if (m_kind != EndKind::Stalled || !m_far.Valid()) {
            return false;
        }
        m_bDrained = true;
        AppendAvailable(m_far.Get(), m_strArrived);  // room for what comes next
        return true;
    }

    bool Unplug() override {
        StopAnswering();
        m_far.Reset();
        return true;
    }

    bool Replug() override {
        StopAnswering();
        m_far.Reset();
        ::unlink(m_strPath.c_str());
        m_strArrived.clear();
        return Make();
    }

  private:
    bool IsPty() const { return m_kind == EndKind::Line || m_kind == EndKind::RawLine; }

    // What has arrived: read here, or from what the answering thread heard.
    void Collect() {
        if (!m_answerer.joinable()) {
            AppendAvailable(m_far.Get(), m_strArrived);
            return;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_strArrived += m_strHeard;
        m_strHeard.clear();
    }

    // The printer's side of AnswerStatus, on a thread of its own until StopAnswering.
    void Answer(const std::string& answers) {
        std::string unread;
        while (!m_bStopAnswering) {
            pollfd pfd{m_far.Get(), POLLIN, 0};
            ::poll(&pfd, 1, 10);
            std::string got;
            AppendAvailable(m_far.Get(), got);
            if (got.empty()) {
                SleepMs(2);  // a pty whose other side is closed is always "ready"
                continue;
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_strHeard += got;
            }
            unread += got;
            for (size_t at = unread.find("\x10\x04"); at != std::string::npos && at + 2 < unread.size();
                 at = unread.find("\x10\x04")) {
                const size_t n = static_cast<unsigned char>(unread[at + 2]);
                const size_t each = answers.size() < 4 ? 1 : answers.size() / 4;
                if (n >= 1 && n * each <= answers.size()) {
                    EXPECT_EQ(::write(m_far.Get(), &answers[(n - 1) * each], each),
                              static_cast<ssize_t>(each));
                }
                unread.erase(0, at + 3);
            }
            if (unread.size() > 2) {
                unread.erase(0, unread.size() - 2);  // only a request's beginning waits for more
            }
        }
    }

    void StopAnswering() {
        if (m_answerer.joinable()) {
            m_bStopAnswering = true;
            m_answerer.join();
            m_strArrived += m_strHeard;
            m_strHeard.clear();
        }
    }

    bool Make() {
        switch (m_kind) {
            case EndKind::Line:
            case EndKind::RawLine:
                return MakePty();
            case EndKind::Printer:
            case EndKind::Unopenable:
            case EndKind::Stalled:
                return MakeFifo();
        }
        return false;
    }

    // The messenger opens the pty's other end through a link of the port's name.
    bool MakePty() {
        m_far.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!m_far.Valid() || ::grantpt(m_far.Get()) != 0 || ::unlockpt(m_far.Get()) != 0) {
            ADD_FAILURE() << "no pty for " << m_strPath;
            return false;
        }
        m_strSlave = ::ptsname(m_far.Get());
        if (m_kind == EndKind::RawLine) {
            termios tio{};
            ::tcgetattr(m_far.Get(), &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(m_far.Get(), TCSANOW, &tio);
        }
        if (::symlink(m_strSlave.c_str(), m_strPath.c_str()) != 0) {
            ADD_FAILURE() << "cannot link " << m_strPath << ": " << errno;
            return false;
        }
        return true;
    }

    bool MakeFifo() {
        if (::mkfifo(m_strPath.c_str(), 0600) != 0) {
            ADD_FAILURE() << "no FIFO " << m_strPath << ": " << errno;
            return false;
        }
        if (m_kind == EndKind::Unopenable) {
            return true;  // without a reader, a FIFO cannot be opened for writing (ENXIO)
        }
        if (m_kind == EndKind::Printer) {
            m_far.Reset(::open(m_strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
            return m_far.Valid();
        }
        // Stalled: opened for reading and writing, so that it has a reader, and filled to the
        // brim with zero bytes.
        m_far.Reset(::open(m_strPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        const std::string zeros(65536, '\0');
        if (!m_far.Valid() || ::fcntl(m_far.Get(), F_SETPIPE_SZ, 65536) < 0 ||
            ::write(m_far.Get(), zeros.data(), zeros.size()) != static_cast<ssize_t>(zeros.size())) {
            ADD_FAILURE() << "cannot fill " << m_strPath;
            return false;
        }
        return true;
    }

    std::string m_strPath;
    EndKind m_kind;
    UniqueFd m_far;  // the pty's master, or the FIFO's reader
    std::string m_strSlave;
    std::string m_strArrived;
    bool m_bDrained = false;
    std::thread m_answerer;
    std::atomic<bool> m_bStopAnswering{false};
    std::mutex m_mutex;
    std::string m_strHeard;  // what the answering thread heard and Take has not collected
};

}  // namespace

struct FarEndTest::Platform {
    std::string dir = "/tmp/tol-far-XXXXXX";
    std::map<std::string, std::unique_ptr<PosixEnd>> ends;  // by path
    std::vector<std::string> files;                         // RegularFile's
};

FarEndTest::FarEndTest() : m_platform(new Platform()) {}

FarEndTest::~FarEndTest() = default;

void FarEndTest::SetUp() {
    ASSERT_NE(::mkdtemp(&m_platform->dir[0]), nullptr);
    const std::string usb = m_platform->dir + "/usb";
    ASSERT_EQ(::mkdir(usb.c_str(), 0700), 0);
    ::setenv("TOL_USB_DIR", usb.c_str(), 1);
}

void FarEndTest::TearDown() {
    DestroyUsbMessenger();
    m_platform->ends.clear();
    for (const std::string& file : m_platform->files) {
        ::unlink(file.c_str());
    }
    ::rmdir((m_platform->dir + "/usb").c_str());
    ::rmdir(m_platform->dir.c_str());
    ::unsetenv("TOL_USB_DIR");
}

PortEnd& FarEndTest::Port(const std::string& name, EndKind kind) {
    const std::string path = m_platform->dir + "/" + name;
    m_platform->ends.erase(path);
    auto& end = m_platform->ends[path];
    end.reset(new PosixEnd(path, kind));
    return *end;
}

std::string FarEndTest::Absent(const std::string& name) {
    const std::string path = m_platform->dir + "/" + name;
    m_platform->ends.erase(path);
    return path;
}

std::string FarEndTest::RegularFile(const std::string& name, const std::string& bytes) {
    const std::string path = m_platform->dir + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    m_platform->files.push_back(path);
    return path;
}

std::string FarEndTest::FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

PortEnd& FarEndTest::UsbPrinter(int number, EndKind kind) {
    return Port("usb/lp" + std::to_string(number), kind);
}

void FarEndTest::RemoveUsbPrinter(int number) {
    m_platform->ends.erase(m_platform->dir + "/usb/lp" + std::to_string(number));
}

bool FarEndTest::AbsentPortIndex(int portIndex) {
    // The devices of this machine cannot be taken away; only those that are not there count.
    std::string device;
    if (portIndex >= kPortLpt1 && portIndex <= kPortLpt3) {
        device = "/dev/lp" + std::to_string(portIndex - kPortLpt1);
    } else if (portIndex == kPortCom1 || portIndex == kPortCom2) {
        device = "/dev/ttyS" + std::to_string(portIndex - kPortCom1);
    } else {
        return false;
    }
    return ::access(device.c_str(), F_OK) != 0;
}

PipeMessenger::PipeMessenger() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    m_reader.Reset(fds[0]);
    m_fd.Reset(fds[1]);
    ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
}

PipeMessenger::~PipeMessenger() = default;

bool PipeMessenger::Ready() const {
    return m_fd.Valid() && m_reader.Valid();
}

std::string PipeMessenger::ReadAvailable() {
    std::string bytes;
    if (m_reader.Valid()) {
        AppendAvailable(m_reader.Get(), bytes);
    }
    return bytes;
}

void PipeMessenger::CloseReader() {
    m_reader.Reset();
}

int WatchedCom::Waiting() const {
    int waiting = 0;
    return ::ioctl(m_fd.Get(), FIONREAD, &waiting) == 0 ? waiting : -1;
}

SocketOwner NewTcpSocket(bool nonBlocking) {
    return SocketOwner(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0));
}
