// The printers a command serves (apply, status, monitor, the console): --port and --target
// values and the lines or rows of a targets file, read one way for all of them.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "transport/PortUri.h"

/// Largest targets file read.
constexpr size_t kMaxTargetsBytes = 16 * 1024 * 1024;

/// A target as written: one port, range or network, and the overrides that go with it.
struct TargetLine {
    std::string origin;                  // "--target" or "targets.txt:3", for messages
    std::string target;                  // socket://..., serial:..., a range, a network, ...
    std::vector<std::string> overrides;  // "key=value", quotes removed
};

/// Splits the text of a targets file (`origin`, its name) into lines: the target first, then
/// KEY=VALUE overrides, separated by blanks. A value may be quoted ("Till 3"; inside, a
/// backslash escapes a quote or a backslash); "#" at the start of a word begins a comment to the end of the
/// line; blank and comment lines are skipped. Problems are added to `errors` as "FILE:LINE: ...".
void ParseTargetsText(const std::string& text,
                      const std::string& origin,
                      std::vector<TargetLine>& lines,
                      std::vector<std::string>& errors);

/// Splits a spreadsheet's targets (CSV, RFC 4180) into lines: a header row whose first column is
/// "target" and whose others are the profile's dotted names, then one target a row, each non-empty
/// cell an override of its column. UTF-8 with or without a byte order mark; rows whose cells are
/// all empty are skipped. Problems are added to `errors` naming the row and the column.
void ParseTargetsCsv(const std::string& text,
                     const std::string& origin,
                     std::vector<TargetLine>& lines,
                     std::vector<std::string>& errors);

/// Whether a targets file is a spreadsheet's: by its name's .csv suffix, in any case.
bool IsCsvName(const std::string& path);

/// Where a command's printers are named, read in this order.
struct TargetSources {
    std::string port;                  // --port (status, monitor): one target; empty for none
    std::vector<std::string> targets;  // --target values, or the list of a request
    /// What the lines of `targets` are called in messages; empty: each by its own text (a
    /// request's list, "socket://10.0.0.300: host: ...").
    std::string targetsOrigin = "--target";
    std::string file;  // a targets file (a spreadsheet's when its name ends in .csv); empty for none
    /// The file's text when it was given rather than read (a page's upload): `file` then only
    /// names it, in messages and by its suffix. Null: the file is read.
    const std::string* fileText = nullptr;
};

/// The lines of `sources`: --port, each --target, then the file's lines (ParseTargetsText) or its
/// rows (ParseTargetsCsv, for a name that IsCsvName). A file that cannot be read ("--targets:
/// cannot read ..."), and each problem of its text, is added to `errors`.
std::vector<TargetLine> ReadTargetLines(const TargetSources& sources, std::vector<std::string>& errors);

/// One printer to set up.
struct Target {
    std::string name;  // as shown: "socket://127.0.1.5", "socket://127.0.1.5:9101", "serial:/dev/ttyS0"
    PortUri port;
    std::string device;  // for ports that two jobs must never use at once: the device; empty for TCP
};

/// Expands one target: any --port form, plus socket://A.B.C.D-E and socket://A.B.C.D/NN (with an
/// optional :PORT after them), one target per address; a network up to a /30 without its network
/// and broadcast addresses. False with `error` when it is not a port, or when it names a device
/// by a name that leads to no device (NotADevice: a regular file, ...).
bool ExpandTarget(const std::string& text,
                  bool windowsNames,
                  std::vector<Target>& targets,
                  std::string& error);

/// Whether one of a line's overrides is an address sequence: an ".ip" value ending in "+"
/// ("lan.ip=192.168.1.51+"), which counts up per printer of the line.
bool HasSequence(const std::vector<std::string>& overrides);

/// The overrides of each of `count` printers of a line, in address order: a sequence's printer k
/// gets the address counted up by k. False with `error` when a sequence does not start at an
/// address or would leave the /24 it starts in.
bool CountSequences(const std::vector<std::string>& overrides,
                    size_t count,
                    std::vector<std::vector<std::string>>& counted,
                    std::string& error);

/// What makes two targets the same printer: the address and TCP port, or the device, one for
/// every name of it (DeviceIdentity: "/dev/pts/0", "/dev//pts/0" and a link to it are one).
std::string TargetIdentity(const Target& target);

/// The printers named so far, each once (by TargetIdentity).
class TargetClaims {
  public:
    /// Takes `target`, named at `origin`. False when a printer of the same identity was taken
    /// before: then "ORIGIN: NAME is already a target (FIRST ORIGIN)" and `because` are added to
    /// `errors`.
    bool Claim(const Target& target,
               const std::string& origin,
               std::vector<std::string>& errors,
               const std::string& because = "");

  private:
    std::map<std::string, std::string> m_seen;  // identity -> where it was named
};

/// How ExpandTargetLines takes the printers.
struct TargetRules {
    bool once = true;  // a printer named twice is refused (TargetClaims); else kept once, quietly
    size_t most = 0;   // more printers than this are refused at once (0: no bound)
};

/// The printers of `lines` in order, ranges and networks expanded (ExpandTarget). Each problem (a
/// target that is no port, a printer named twice) is added to `errors` as "ORIGIN: ...", and
/// "more than MOST printers" when there are too many (then none are answered).
std::vector<Target> ExpandTargetLines(const std::vector<TargetLine>& lines,
                                      std::vector<std::string>& errors,
                                      const TargetRules& rules = TargetRules());

/// The targets in lanes, each served by one job from first to last: a TCP printer alone, or every
/// target of one device (which two jobs must never open at once). `targetOf` gives the target of
/// each index below `count`; the lanes hold those indexes, in order.
std::vector<std::vector<size_t>> TargetLanes(size_t count,
                                             const std::function<const Target&(size_t)>& targetOf);
