#include "commands/Cmd.h"

#include <algorithm>

#include "system/OemText.h"

Cmd::~Cmd() = default;

int Cmd::GetLength() const {
    return m_nLength;
}

const unsigned char* Cmd::GetData() const {
    return m_pData;
}

void Cmd::SetLength(int length) {
    m_nLength = length;
}

void Cmd::SetData(const unsigned char* data) {
    m_pData = data;
}

unsigned char* Cmd::AllocateBuffer(int capacity) {
    unsigned char* buffer = new unsigned char[static_cast<size_t>(capacity)]();
    delete[] m_pBuffer;
    m_pBuffer = buffer;
    m_pData = buffer;
    return buffer;
}

void Cmd::FreeBuffer() {
    if (m_pData == m_pBuffer) {
        m_pData = nullptr;
    }
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
}

void Cmd::PointAt(CmdId id) {
    const CmdHeader& header = CmdRowOf(id).header;
    SetData(header.Bytes());
    SetLength(static_cast<int>(header.size));
}

unsigned char* Cmd::BeginFields(CmdId id, int capacity) {
    const CmdHeader& header = CmdRowOf(id).header;
    return std::copy(header.Bytes(), header.Bytes() + header.size, AllocateBuffer(capacity));
}

void Cmd::EndFields(const unsigned char* end) {
    SetLength(static_cast<int>(end - m_pBuffer));
}

unsigned char* Cmd::PutFourBytes(unsigned char* at, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        *at++ = static_cast<unsigned char>(value >> shift);
    }
    return at;
}

std::string Cmd::OemField(const WideString& text, int units) {
    std::string field(static_cast<size_t>(units), '\0');
    if (units > 0) {
        ConvertToOem(text.substr(0, static_cast<size_t>(units)), reinterpret_cast<unsigned char*>(&field[0]),
                     units);
    }
    return field;
}
