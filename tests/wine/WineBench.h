// The Windows side of tests/wine/bench.sh: asks the Linux side of the test bench for fake ports.
#pragma once

#include <string>

namespace wine_bench {

/// True when the program runs under bench.sh (TOL_BENCH_PORT is set).
bool Available();

/// Sends one request ("pty com1", ...) and answers the bench's reply without its last line;
/// `ok` tells whether that line was "ok". Each request starts and ends Windows Sockets once.
std::string Ask(const std::string& request, bool* ok = nullptr);

/// A pty behind the DOS device `name` (lower case: "com1", "lpt2", a USB device path's name).
bool Pty(const std::string& name);
/// A FIFO behind `name` whose buffer is full and that nobody reads: writes to it never end.
bool Stall(const std::string& name);
/// Starts reading the stalled FIFO; what was in it (65536 zero bytes) comes first in Captured.
bool Drain(const std::string& name);
/// Ends the pty behind `name`; the link stays and leads nowhere, as after an unplug.
bool Unplug(const std::string& name);
/// No device `name` at all.
bool Absent(const std::string& name);
/// Ends the fake and puts the DOS device back as it was before the test.
bool Remove(const std::string& name);
/// Sends bytes from the printer's side of the pty towards the program.
bool Inject(const std::string& name, const std::string& bytes);
/// From now on the printer's side of the pty answers each status request DLE EOT n with byte n
/// of `answers` (with 4 x K bytes, the n-th K of them); what arrives is still captured.
bool AnswerStatus(const std::string& name, const std::string& answers);
/// The bytes that arrived at the printer's side, once there are at least `atLeast` (or after 3 s).
std::string Captured(const std::string& name, size_t atLeast);
/// `stty -a` of the pty end that the program opens: the line settings as Linux sees them.
std::string Stty(const std::string& name);

/// Line settings of the pty behind `name` before the program opens it, in stty's words.
bool Preset(const std::string& name, const std::string& settings);
/// How many open descriptors Wine holds on the pty behind `name` (-1 if the bench cannot tell):
/// non-zero while some handle of the program has the device open.
int Holders(const std::string& name);

}  // namespace wine_bench
