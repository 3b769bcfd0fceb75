// Turns raw bytes, as a printer receives them, back into the commands that made them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "commands/CmdCatalog.h"

/// One line per recognised command with its fields, e.g. `wifi-ap mode=0 name="Thermal Printer"`
/// or `lan-ip 192.168.1.123`. Bytes that begin no known command come out as one
/// `unknown: ...` line per run; a command cut short by the end of input as `truncated ...`.
/// Text fields are converted from the OEM code page and shown as UTF-8 in double quotes; with
/// `hideSecrets` a password that is not empty as `password=(hidden)`.
std::vector<std::string> DecodeCommands(const std::vector<unsigned char>& bytes, bool hideSecrets = false);

/// True when `input` is hex text as --dry-run prints it: pairs of hex digits ("1d 56 01", or
/// "1d5601"), whitespace and nothing else; then `bytes` are the bytes it stands for. Raw command
/// bytes never read so: every command begins with a control byte. Given `hidden`, "**" is read
/// too, as a byte of a password that --dry-run hid ('*' stands in for it), and `hidden` tells
/// whether there was one.
bool ReadHexText(const std::vector<unsigned char>& input,
                 std::vector<unsigned char>& bytes,
                 bool* hidden = nullptr);

/// What the bytes at one position of a stream hold.
struct DecodeStep {
    enum class Kind {
        Command,    // a whole known command of `length` bytes
        Unknown,    // one byte that begins no known command
        Truncated,  // a command cut short by the end of the input: all `length` bytes left
        NeedMore,   // a command has begun and more bytes may follow (only when not at the end)
    };
    Kind kind = Kind::Unknown;
    const char* name = nullptr;   // the command's name ("cut", "wifi-ap", ...): Command, and
                                  // Truncated/NeedMore once its whole header is there
    const CmdRow* row = nullptr;  // the command's catalogue row whenever `name` is set
    size_t length = 0;            // bytes the step takes
};

/// The step at `at` with `have` bytes left, as DecodeCommands reads it. With `atEnd` false more
/// bytes may still arrive: a command that has begun answers NeedMore rather than Truncated, so
/// that a stream can be read as it comes and each step taken is the one DecodeCommands takes.
DecodeStep NextDecodeStep(const unsigned char* at, size_t have, bool atEnd);

/// Where one field of a command lies.
struct FieldBytes {
    const unsigned char* at = nullptr;
    size_t size = 0;
};
using CmdFieldBytes = std::array<FieldBytes, kMaxCmdFields>;

/// The bytes of each field of `command`, a whole command of `row`, in the row's order.
CmdFieldBytes LocateFields(const CmdRow& row, const unsigned char* command);

/// The address in four bytes as the printer receives it, most significant first.
uint32_t AddressAt(const unsigned char* at);

/// Splits a station's address text "ip,mask,gateway" into its three addresses. True only when
/// each is written exactly as the programs write it ("10.0.0.1", never "010.0.0.1"), so that what
/// is shown stands for the very bytes received; otherwise the text is to be kept whole.
bool SplitStationAddresses(const unsigned char* bytes,
                           size_t count,
                           uint32_t& ip,
                           uint32_t& mask,
                           uint32_t& gateway);
