#!/usr/bin/env bash
# Writes tolctl's man page from the program's own help, so that the two never disagree:
# help2man makes the page from `tolctl --help` and `--version`, and a SUBCOMMANDS section, made
# here from `tolctl SUBCOMMAND --help` of every subcommand that --help lists (and of theirs), is
# included into it, with EXAMPLES, ENVIRONMENT and SEE ALSO written below. Usage: make-man-page.sh HELP2MAN TOLCTL OUT.1  (writes OUT.1 and OUT.1.gz)
set -euo pipefail
help2man=$1
tolctl=$2
out=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The subcommands listed in the "Subcommands:" section of a help text. The help is read to its end:
# an awk that left early could make tolctl's write fail (SIGPIPE), which pipefail would take for
# a failure of the page, now and then.
subcommands() {
    awk '/^Subcommands:$/ && !done { on = 1; next } on && /^$/ { on = 0; done = 1 } on && /^  [^ ]/ { print $1 }'
}

# The closing notes of tolctl --help (its last paragraph): every subcommand's help repeats them.
"$tolctl" --help | awk -v RS= 'END { print }' >"$work/footer"

# One subcommand's help as roff: its description, usage, each section's entries as tagged
# paragraphs, and its own closing notes. The lines of the top level's notes are left out: the
# page has them once.
roff_of_help() {
    awk -v footer="$work/footer" '
    BEGIN { while ((getline l < footer) > 0) shared[l] = 1 }
    function esc(s) { gsub(/\\/, "\\e", s); gsub(/-/, "\\-", s); return s }
    function line(s) { if (s ~ /^[.\047]/) s = "\\&" s; print s }
    NR == 1 { line(esc($0)); next }
    /^Usage: / { print ".PP"; line(esc($0)); next }
    /^[A-Z][A-Za-z ]*:$/ { heading = $0; section = 1; next }
    /^$/ { section = 0; skip = 0; next }
    section && /^  [^ ]/ {
        entry = substr($0, 3)
        cut = index(entry, "   ")
        name = cut ? substr(entry, 1, cut - 1) : entry
        rest = cut ? substr(entry, cut) : ""
        sub(/^ +/, "", rest)
        skip = (name == "-h,--help" || name == "--help-all")  # the same for all: on the page once
        if (skip) next
        if (heading != "") { print ".PP"; print "\\fI" esc(heading) "\\fR"; heading = "" }
        print ".TP"
        word = name; args = ""
        if (index(name, " ")) { word = substr(name, 1, index(name, " ") - 1); args = substr(name, index(name, " ")) }
        line("\\fB" esc(word) "\\fR" esc(args))
        if (rest != "") line(esc(rest))
        next
    }
    section && /^   / { if (skip) next; s = $0; sub(/^ +/, "", s); line(esc(s)); next }
    !section && /^[^ ]/ { if (!($0 in shared)) { print ".PP"; line(esc($0)) } next }
    '
}

{
    echo "[SUBCOMMANDS]"
    echo "Each subcommand takes its own options after its name:"
    echo ".B tolctl"
    echo "[OPTIONS] SUBCOMMAND [ITS OPTIONS]."
    "$tolctl" --help | subcommands | while read -r sub; do
        echo ".SS $sub"
        "$tolctl" "$sub" --help | roff_of_help
        "$tolctl" "$sub" --help | subcommands | while read -r inner; do
            echo ".SS \"$sub $inner\""
            "$tolctl" "$sub" "$inner" --help | roff_of_help
        done
    done
} >"$work/subcommands.h2m"

# The sections that no help text holds. Examples that show what they print are run by
# tests/docs/check-man-page.py and must print it; keep them to --dry-run, decode and loopback.
cat >>"$work/subcommands.h2m" <<'ROFF'
[EXAMPLES]
Print a command's bytes instead of sending them, and read them back:
.PP
.RS
.nf
$ tolctl \-\-dry\-run wifi\-ap \-\-name "Thermal Printer" \-\-mode ap
1f 1a 1f 1b 1f 03 0a 0b 0c 00 0f 54 68 65 72 6d 61 6c 20 50 72 69 6e 74 65 72
$ tolctl \-\-dry\-run lan\-mac 9E:22:56:1C | tolctl decode
lan\-mac 158.34.86.28
.fi
.RE
.PP
Send to the printer emulator on this machine (127.0.0.1, TCP port 9100), which prints what it
gets; a serial port at 19200 baud; the USB printer found:
.PP
.RS
.nf
$ tolctl listen \-\-count 1 &
$ tolctl \-\-port socket://127.0.0.1 cut
$ tolctl \-\-port serial:/dev/ttyUSB0?baud=19200 bt\-pin 6042
$ tolctl \-\-port usb: test\-print
.fi
.RE
.PP
Keep the Wi\-Fi password out of the process list and the shell history:
.PP
.RS
.nf
$ tolctl \-\-port socket://127.0.0.1 wifi\-station \-\-ssid Shop \-\-password\-file wifi.pw \e
      \-\-ip 192.168.1.200 \-\-gateway 192.168.1.1
.fi
.RE
.PP
Many printers: 256 emulated ones on 127.0.1.0/24, found by a scan and given one profile
(\fBtolctl profile example\fR prints a commented starting profile with every setting):
.PP
.RS
.nf
$ tolctl listen \-\-bind 127.0.1.0/24 \-\-state fleet.json &
$ tolctl scan 127.0.1.0/24 > printers.txt
$ echo '{"bt\-pin": "6042", "after": ["cut"]}' > pins.json
$ tolctl apply pins.json \-\-targets printers.txt \-\-dry\-run
$ tolctl apply pins.json \-\-targets printers.txt \-\-report report.json
.fi
.RE
.PP
Their status, once as a table (exit code 0 when every printer is ok or warning), then watched:
a line for each change, until Ctrl\-C:
.PP
.RS
.nf
$ tolctl status \-\-targets printers.txt
$ tolctl status \-\-target socket://127.0.1.0/24 \-\-watch 15
.fi
.RE
.PP
Read every 30 seconds and served to Prometheus on http://127.0.0.1:9464/metrics (the JSON of
status on /status), until Ctrl\-C:
.PP
.RS
.nf
$ tolctl monitor \-\-targets printers.txt \-\-interval 30
.fi
.RE
.PP
Emulated printers in a condition, to see how status reports it (the second is out of paper):
.PP
.RS
.nf
$ tolctl listen \-\-bind 127.0.2.1\-3 \-\-condition 127.0.2.2=paper\-end &
$ tolctl status \-\-target socket://127.0.2.1\-3
.fi
.RE
.PP
The bytes a status read sends to each printer:
.PP
.RS
.nf
$ tolctl \-\-dry\-run status
10 04 01 10 04 02 10 04 03 10 04 04
.fi
.RE
.PP
This computer's printer ports, as \fB\-\-port\fR takes them:
.PP
.RS
.nf
$ tolctl ports
.fi
.RE
[ENVIRONMENT]
.TP
.B TOLCTL_RECORD
The fleet record's file when
.B \-\-record
is not given (and
.B \-\-no\-record
neither); unset or empty, the default below.
.TP
.B XDG_STATE_HOME
The folder of what tolctl keeps: the fleet record
.I $XDG_STATE_HOME/tolctl/record.sqlite
and the console's state; unset or not absolute,
.I ~/.local/state
under
.BR HOME .
On Windows
.I %LOCALAPPDATA%\etolctl
holds them.
.PP
The three below are read on Linux only. They exist so that tests can offer devices of their
own; unset or empty, the standard place is used.
.TP
.B TOL_USB_DIR
The folder searched for USB printers (files named lp0, lp1, ...) by
.B usb:
and
.BR ports ,
in place of /dev/usb.
.TP
.B TOL_DEV_DIR
The folder where
.B ports
looks for parallel and serial devices, in place of /dev.
.TP
.B TOL_SYS_DIR
The folder where
.B ports
reads which ttyS devices are serial ports, in place of /sys.
.PP
Nothing else in the environment changes what tolctl does, the locale included: arguments are
read as UTF\-8, messages are in English, and the printer's code page is the one
.B \-\-codepage
names (CP437 by default on Linux; on Windows the system's OEM code page). The system libraries
read their own settings: host names are resolved as the system's resolver is configured
(\fBresolv.conf\fR(5)), and on Linux the code pages come from glibc's iconv (\fBiconv_open\fR(3)).
[SEE ALSO]
This page at greater length, with the printer emulator, scan and ports:
.IR tolctl.md ;
the printer commands byte for byte and the ports:
.IR protocol.md ;
settings profiles, targets and
.BR "tolctl apply" :
.I profiles.md
and the profile's JSON Schema
.IR profile.schema.json ;
the fleet record and
.BR "tolctl record" :
.IR record.md .
The .deb installs them in /usr/share/doc/tolctl (\fBcmake \-\-install\fR in
/usr/local/share/doc/tolctl).
.PP
In the source repository:
.IR docs/tolctl.md ,
.IR docs/protocol.md ,
.IR docs/profiles.md ,
.IR docs/record.md ,
.I deploy/ansible/README.md
(rolling settings out to many shops) and
.IR README.md ;
the Windows programs
.B tolvane
and
.B tolwire
send the same commands from a dialog.
ROFF

"$help2man" --no-info --no-discard-stderr \
    --name "build, send and decode thermal receipt printer setting commands" \
    --include "$work/subcommands.h2m" --output "$out.tmp" "$tolctl"
gzip -9 -n -c "$out.tmp" >"$out.gz.tmp"
mv "$out.gz.tmp" "$out.gz"
mv "$out.tmp" "$out"
