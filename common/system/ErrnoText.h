// The system's text for an error, as the messages of the programs quote it.
#pragma once

#include <string>
#include <system_error>

/// The system's text for an errno value, its first letter in lower case to sit inside a sentence
/// ("connection refused"); a word that is all capitals ("I/O") keeps them.
std::string ErrnoText(int code);

/// The same for the system's own error codes: on POSIX errno values, on Windows the codes of
/// GetLastError and Windows Sockets, from the system's message table ("an existing connection
/// was forcibly closed by the remote host"). Platform code: ErrnoText_posix / ErrnoText_win.
std::string SystemErrorText(int code);

/// The text of `code`: errno values (the generic category) by ErrnoText, the system's codes by
/// SystemErrorText, others (a library's own, such as Asio's end of file) by their category.
std::string ErrorCodeText(const std::error_code& code);
