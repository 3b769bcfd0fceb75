// Writes one command through a messenger it does not own.
#pragma once

class Cmd;
class Messenger;

class CmdSender {
public:
    explicit CmdSender(Messenger* messenger) : m_pMessenger(messenger) {}

    /// Writes the command's bytes in one Write and answers its result (0, -1 or 258).
    int Send(const Cmd& cmd);

private:
    Messenger* m_pMessenger;
};
