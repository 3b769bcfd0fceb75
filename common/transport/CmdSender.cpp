#include "CmdSender.h"

#include "Cmd.h"
#include "Messenger.h"

int CmdSender::Send(const Cmd& cmd) {
    return m_pMessenger->Write(cmd.GetData(), cmd.GetLength());
}
