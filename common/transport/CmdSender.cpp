#include "transport/CmdSender.h"

#include "commands/Cmd.h"
#include "transport/Messenger.h"

int CmdSender::Send(const Cmd& cmd) {
    return m_pMessenger->Write(cmd.GetData(), cmd.GetLength());
}
